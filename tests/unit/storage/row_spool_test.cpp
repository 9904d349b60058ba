#include "storage/row_spool.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/datagram_builder.h"
#include "tests/support/test_files.h"

namespace orvanel {
namespace {

using test::Datagram;

std::vector<std::uint8_t> UdpBytes(std::uint16_t port, std::size_t payload) {
  return Datagram{.protocol = kProtocolUDP, .sourcePort = port, .payload = std::string(payload, 'a' + port % 26)}
      .Bytes();
}

void Add(RowSpool& spool, const std::vector<std::uint8_t>& bytes, std::int64_t time) {
  spool.AddRow(ListedRowOf(bytes, time));
}

struct SpoolTest : ::testing::Test {
  test::ScratchDirectory scratch{"orvanel-spool"};
  std::string directory = (scratch.path() / "cache" / "orvanel").string();
};

TEST_F(SpoolTest, RowsReadBackAsAddedInAnOwnerOnlyDirectoryWithNothingLeftBehind) {
  auto spool = RowSpool::Create(directory);
  ASSERT_TRUE(spool) << "no spool in " << directory << " (a tmpfs is refused)";
  struct stat status;
  ASSERT_EQ(stat(directory.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  std::vector<std::vector<std::uint8_t>> sent;
  for (std::uint16_t i = 0; i < 3000; ++i) {
    sent.push_back(UdpBytes(i, i % 5 == 0 ? 2020 : i % 40));
    Add(*spool, sent.back(), 1000 + i);
  }
  Add(*spool, {}, 5);  // an empty datagram is a row too
  ASSERT_EQ(spool->RowCount(), sent.size() + 1);
  for (std::size_t row = 0; row < sent.size(); ++row) {
    const RowSpool::StoredRow stored = spool->Row(row);
    ASSERT_EQ(std::vector<std::uint8_t>(stored.datagram.begin(), stored.datagram.end()), sent[row]) << row;
    ASSERT_EQ(stored.captureTimeNs, 1000 + static_cast<std::int64_t>(row));
  }
  EXPECT_TRUE(spool->Row(sent.size()).datagram.empty());
  EXPECT_EQ(spool->RowsNotListed(), 0u);
  // The files have no names: the directory stays empty.
  EXPECT_TRUE(std::filesystem::is_empty(directory));
}

TEST_F(SpoolTest, ClearEmptiesAtOnceAndTheWriterCutsTheFilesBeforeItsNextRow) {
  auto spool = RowSpool::Create(directory);
  ASSERT_TRUE(spool);
  for (std::uint16_t i = 0; i < 100; ++i) Add(*spool, UdpBytes(i, 1000), i);
  spool->Clear();
  EXPECT_EQ(spool->RowCount(), 0u);
  Add(*spool, UdpBytes(7, 3), 42);  // the writer's next row starts the new list
  ASSERT_EQ(spool->RowCount(), 1u);
  EXPECT_EQ(spool->Row(0).captureTimeNs, 42);
  EXPECT_EQ(spool->Row(0).datagram.size(), UdpBytes(7, 3).size());
  spool->Clear();
  spool->FinishClear();  // no writer: cut now
  EXPECT_EQ(spool->RowCount(), 0u);
  Add(*spool, UdpBytes(8, 3), 43);
  EXPECT_EQ(spool->RowCount(), 1u);
}

TEST_F(SpoolTest, AReaderSeesWholeRowsInOrderWhileTheWriterAddsAndClears) {
  auto spool = RowSpool::Create(directory);
  ASSERT_TRUE(spool);
  constexpr int kRows = 200000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < kRows; ++i) Add(*spool, UdpBytes(static_cast<std::uint16_t>(i), i % 7 == 0 ? 1400 : 3), i);
    done = true;
  });
  int clears = 0;
  while (!done.load()) {
    const std::size_t rows = spool->RowCount();
    for (std::size_t row = rows > 50 ? rows - 50 : 0; row < rows; ++row) {
      const RowSpool::StoredRow stored = spool->Row(row);
      const ListedRow listed = ListedRowOf(stored.datagram, stored.captureTimeNs);
      ASSERT_EQ(listed.sourcePort, static_cast<std::uint16_t>(stored.captureTimeNs));
      ASSERT_EQ(stored.datagram.size(), UdpBytes(listed.sourcePort, stored.captureTimeNs % 7 == 0 ? 1400 : 3).size());
      if (row > 0) {
        ASSERT_LT(spool->Row(row - 1).captureTimeNs, stored.captureTimeNs);
      }
    }
    // Clears while the writer still has rows to add, so the last list is not empty.
    if (rows > 20000 && clears < 3 && spool->Row(rows - 1).captureTimeNs < kRows - 50000) spool->Clear(), ++clears;
  }
  writer.join();
  const std::size_t rows = spool->RowCount();
  ASSERT_GT(rows, 0u);
  EXPECT_EQ(spool->Row(rows - 1).captureTimeNs, kRows - 1);
}

TEST_F(SpoolTest, RowsAreRefusedAndCountedWhileTheFileSystemIsLowAndTakenAgainAfterClear) {
  struct statvfs fileSystem;
  ASSERT_EQ(statvfs(scratch.path().c_str(), &fileSystem), 0);
  const std::uint64_t available = std::uint64_t{fileSystem.f_bavail} * fileSystem.f_frsize;
  // Asking for more free space than there is: the first chunk is refused.
  auto low = RowSpool::Create(directory, {.minimumFreeBytes = available + (1u << 30), .minimumFreePercent = 0});
  ASSERT_TRUE(low);
  for (std::uint16_t i = 0; i < 10; ++i) Add(*low, UdpBytes(i, 10), i);
  EXPECT_EQ(low->RowCount(), 0u);
  EXPECT_EQ(low->RowsNotListed(), 10u);
  // A share of the file system above what is free refuses rows too.
  const unsigned freePercent = static_cast<unsigned>(100 * fileSystem.f_bavail / fileSystem.f_blocks);
  auto share = RowSpool::Create(directory, {.minimumFreeBytes = 0, .minimumFreePercent = freePercent + 1});
  ASSERT_TRUE(share);
  Add(*share, UdpBytes(1, 10), 1);
  EXPECT_EQ(share->RowsNotListed(), 1u);
  // With room, the same spool lists again.
  auto roomy = RowSpool::Create(directory, {.minimumFreeBytes = 0, .minimumFreePercent = 0});
  ASSERT_TRUE(roomy);
  Add(*roomy, UdpBytes(1, 10), 1);
  EXPECT_EQ(roomy->RowCount(), 1u);
  EXPECT_EQ(roomy->RowsNotListed(), 0u);
}

TEST(RowSpool, ATmpfsOrAMissingParentRightIsNoPlaceForASpool) {
  struct statvfs unused;
  if (statvfs("/dev/shm", &unused) == 0) {
    EXPECT_FALSE(RowSpool::Create("/dev/shm/orvanel-spool-test"));
  }
  std::filesystem::remove("/dev/shm/orvanel-spool-test");
  EXPECT_FALSE(RowSpool::Create(""));
  EXPECT_FALSE(RowSpool::Create("/proc/orvanel"));
}

}  // namespace
}  // namespace orvanel
