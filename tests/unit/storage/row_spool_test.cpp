#include "storage/row_spool.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "storage/mapped_file.h"
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
  ASSERT_EQ(spool->Read().RowCount(), sent.size() + 1);
  for (std::size_t row = 0; row < sent.size(); ++row) {
    const RowSpool::StoredRow stored = spool->Read().Row(row);
    ASSERT_EQ(std::vector<std::uint8_t>(stored.datagram.begin(), stored.datagram.end()), sent[row]) << row;
    ASSERT_EQ(stored.captureTimeNs, 1000 + static_cast<std::int64_t>(row));
  }
  EXPECT_TRUE(spool->Read().Row(sent.size()).datagram.empty());
  EXPECT_EQ(spool->RowsNotListed(), 0u);
  // The files have no names: the directory stays empty.
  EXPECT_TRUE(std::filesystem::is_empty(directory));
}

TEST_F(SpoolTest, ClearEmptiesAtOnceAndTheWriterTakesTheFreshFilesAtItsNextRow) {
  auto spool = RowSpool::Create(directory);
  ASSERT_TRUE(spool);
  for (std::uint16_t i = 0; i < 100; ++i) Add(*spool, UdpBytes(i, 1000), i);
  const RowSpool::Reader before = spool->Read();
  spool->Clear();
  EXPECT_EQ(spool->Read().RowCount(), 0u);
  Add(*spool, UdpBytes(7, 3), 42);  // the writer's next row starts the new list
  const RowSpool::Reader after = spool->Read();
  ASSERT_EQ(after.RowCount(), 1u);
  EXPECT_EQ(after.Row(0).captureTimeNs, 42);
  EXPECT_EQ(after.Row(0).datagram.size(), UdpBytes(7, 3).size());
  // The fresh files came with their first chunks: the writer waited for no thread.
  EXPECT_EQ(spool->WriterWaits(), 0u);
  spool->Clear();
  spool.reset();
  // Readers keep the list they were taken on, through Clear and the spool's end.
  ASSERT_EQ(before.RowCount(), 100u);
  EXPECT_EQ(before.Row(99).captureTimeNs, 99);
  EXPECT_EQ(before.Row(99).datagram.size(), UdpBytes(99, 1000).size());
  EXPECT_EQ(after.Row(0).captureTimeNs, 42);
}

TEST_F(SpoolTest, AReaderSeesWholeRowsInOrderWhileTheWriterAddsAndClears) {
  auto spool = RowSpool::Create(directory);
  ASSERT_TRUE(spool);
  constexpr int kRows = 200000;
  const auto add = [&](int i) { Add(*spool, UdpBytes(static_cast<std::uint16_t>(i), i % 7 == 0 ? 1400 : 3), i); };
  std::atomic<int> clears{0};
  std::atomic<int> last{-1};
  std::thread writer([&] {
    // Rows until the third Clear, and one after it: the last list is not empty.
    int i = 0;
    for (; i < kRows || clears.load() < 3; ++i) add(i);
    add(i);
    last = i;
  });
  while (last.load() < 0) {
    const RowSpool::Reader list = spool->Read();
    const std::size_t rows = list.RowCount();
    for (std::size_t row = rows > 50 ? rows - 50 : 0; row < rows; ++row) {
      const RowSpool::StoredRow stored = list.Row(row);
      const ListedRow listed = ListedRowOf(stored.datagram, stored.captureTimeNs);
      ASSERT_EQ(listed.sourcePort, static_cast<std::uint16_t>(stored.captureTimeNs));
      ASSERT_EQ(stored.datagram.size(), UdpBytes(listed.sourcePort, stored.captureTimeNs % 7 == 0 ? 1400 : 3).size());
      if (row > 0) {
        ASSERT_LT(list.Row(row - 1).captureTimeNs, stored.captureTimeNs);
      }
    }
    if (rows > 20000 && clears.load() < 3) spool->Clear(), ++clears;
  }
  writer.join();
  const RowSpool::Reader list = spool->Read();
  ASSERT_GT(list.RowCount(), 0u);
  EXPECT_EQ(list.Row(list.RowCount() - 1).captureTimeNs, last.load());
}

TEST_F(SpoolTest, RowsAreRefusedAndCountedWhileTheFileSystemIsLowAndTakenAgainAfterClear) {
  struct statvfs fileSystem;
  ASSERT_EQ(statvfs(scratch.path().c_str(), &fileSystem), 0);
  const std::uint64_t available = std::uint64_t{fileSystem.f_bavail} * fileSystem.f_frsize;
  // Asking for more free space than there is: the first chunk is refused.
  auto low = RowSpool::Create(directory, {.minimumFreeBytes = available + (1u << 30), .minimumFreePercent = 0});
  ASSERT_TRUE(low);
  for (std::uint16_t i = 0; i < 10; ++i) Add(*low, UdpBytes(i, 10), i);
  EXPECT_EQ(low->Read().RowCount(), 0u);
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
  EXPECT_EQ(roomy->Read().RowCount(), 1u);
  EXPECT_EQ(roomy->RowsNotListed(), 0u);

  // The files under the spool say why they cannot grow: the rule, on the
  // writer's thread or the one ahead, and the reservation.
  constexpr std::size_t kChunk = 1 << 16, kReservation = 1 << 20;
  const FreeSpaceRule lowRule{.minimumFreeBytes = available + (1u << 30), .minimumFreePercent = 0};
  for (const MappedFile::Ahead ahead : {MappedFile::Ahead::No, MappedFile::Ahead::Yes}) {
    auto file = MappedFile::Open(scratch.path(), kReservation, kChunk, lowRule, ahead);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Grow(1), ENOSPC);
  }
  auto file = MappedFile::Open(scratch.path(), kReservation, kChunk, {.minimumFreeBytes = 0, .minimumFreePercent = 0});
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Grow(kReservation), 0);
  EXPECT_EQ(file->Grow(kReservation + 1), EFBIG);
}

// The files grow ahead of the writer, on threads of their own.
TEST_F(SpoolTest, RowsAcrossChunksAreWholeAndClearOrALowFileSystemMeetTheChunksTakenAhead) {
  auto spool = RowSpool::Create(directory);
  ASSERT_TRUE(spool);
  constexpr std::uint32_t kRows = 50'000;  // 19 MiB of bytes, 1.1 MiB of index: rows across both files' chunks
  const auto bytes = [](std::uint32_t i) { return UdpBytes(static_cast<std::uint16_t>(i), i % 4 ? 3 : 1400 + i % 3); };
  for (std::uint32_t i = 0; i < kRows; ++i) Add(*spool, bytes(i), i);
  ASSERT_EQ(spool->Read().RowCount(), kRows);
  for (std::uint32_t i = 0; i < kRows; ++i) {
    ASSERT_EQ(std::vector<std::uint8_t>(spool->Read().Row(i).datagram.begin(), spool->Read().Row(i).datagram.end()),
              bytes(i))
        << i;
  }
  // Cleared just past the first chunk, while the next ones are being taken.
  for (int round = 0; round < 3; ++round) {
    spool->Clear();
    for (std::uint32_t i = 0; i < 11'800; ++i) Add(*spool, bytes(0), i);
    ASSERT_EQ(spool->Read().RowCount(), 11'800u);
  }
  spool.reset();  // let go while its threads ahead may be at work, and its blocks freed
  // Room for three chunks above the rule: the next cannot be had, rows are refused.
  struct statvfs fileSystem;
  ASSERT_EQ(statvfs(scratch.path().c_str(), &fileSystem), 0);
  const std::uint64_t available = std::uint64_t{fileSystem.f_bavail} * fileSystem.f_frsize;
  auto low = RowSpool::Create(directory, {.minimumFreeBytes = available - (64u << 20), .minimumFreePercent = 0});
  ASSERT_TRUE(low);
  for (std::uint32_t i = 0; i < 100'000; ++i) Add(*low, bytes(0), i);  // 136 MiB
  ASSERT_GT(low->Read().RowCount(), 0u);
  EXPECT_GT(low->RowsNotListed(), 0u);
  EXPECT_EQ(low->Read().RowCount() + low->RowsNotListed(), 100'000u);
  EXPECT_EQ(low->Read().Row(low->Read().RowCount() - 1).datagram.size(), bytes(0).size());
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
