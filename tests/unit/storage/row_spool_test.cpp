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

#include "tests/support/datagram_builder.h"
#include "session/row_filter.h"
#include "session/row_match.h"
#include "session/row_search.h"
#include "storage/mapped_file.h"
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
  ASSERT_EQ(spool->RowCount(), kRows);
  for (std::uint32_t i = 0; i < kRows; ++i) {
    ASSERT_EQ(std::vector<std::uint8_t>(spool->Row(i).datagram.begin(), spool->Row(i).datagram.end()), bytes(i)) << i;
  }
  // Cleared just past the first chunk, while the next ones are being taken.
  for (int round = 0; round < 3; ++round) {
    spool->Clear();
    for (std::uint32_t i = 0; i < 11'800; ++i) Add(*spool, bytes(0), i);
    ASSERT_EQ(spool->RowCount(), 11'800u);
  }
  spool.reset();  // let go while its threads ahead may be at work, and its blocks freed
  // Room for three chunks above the rule: the next cannot be had, rows are refused.
  struct statvfs fileSystem;
  ASSERT_EQ(statvfs(scratch.path().c_str(), &fileSystem), 0);
  const std::uint64_t available = std::uint64_t{fileSystem.f_bavail} * fileSystem.f_frsize;
  auto low = RowSpool::Create(directory, {.minimumFreeBytes = available - (64u << 20), .minimumFreePercent = 0});
  ASSERT_TRUE(low);
  for (std::uint32_t i = 0; i < 100'000; ++i) Add(*low, bytes(0), i);  // 136 MiB
  ASSERT_GT(low->RowCount(), 0u);
  EXPECT_GT(low->RowsNotListed(), 0u);
  EXPECT_EQ(low->RowCount() + low->RowsNotListed(), 100'000u);
  EXPECT_EQ(low->Row(low->RowCount() - 1).datagram.size(), bytes(0).size());
}

// Crafted rows: every third a DNS query, every fifth an echo request, the rest
// TCP with "needle" in the payload of every seventh.
std::vector<std::uint8_t> CraftedRow(std::uint32_t i) {
  if (i % 3 == 0) return Datagram{.protocol = kProtocolUDP, .destinationPort = 53, .payload = "query"}.Bytes();
  if (i % 5 == 0) return Datagram{.protocol = kProtocolICMP, .source = "10.9.0.1"}.Bytes();
  return Datagram{.protocol = kProtocolTCP, .payload = i % 7 == 0 ? "a needle here" : "hay"}.Bytes();
}

bool Eventually(const std::function<bool()>& done) {
  for (int wait = 0; wait < 1000 && !done(); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST_F(SpoolTest, FilterAndSearchFindExactlyTheMatchingRowsAndTheFilterStaysLive) {
  auto spool = RowSpool::Create(directory);
  ASSERT_TRUE(spool);
  const auto add = [&](std::uint32_t rows) {
    for (std::uint32_t row = 0; row < rows; ++row) {
      const auto index = static_cast<std::uint32_t>(spool->RowCount());
      Add(*spool, CraftedRow(index), index);
    }
  };
  add(20'000);

  std::string error;
  EXPECT_FALSE(RowMatcher::ForExpression("udp and port", error));
  EXPECT_NE(error.find("syntax error"), std::string::npos) << error;  // libpcap's own reason
  std::shared_ptr<const RowMatcher> dns = RowMatcher::ForExpression("udp and dst port 53", error);
  std::shared_ptr<const RowMatcher> echo = RowMatcher::ForExpression("icmp[icmptype] == icmp-echo and src net 10.9.0.0/16", error);
  std::shared_ptr<const RowMatcher> needle = RowMatcher::ForPayload({"needle"});
  ASSERT_TRUE(dns && echo && needle);
  EXPECT_FALSE(RowMatcher::ForPayload({""}));
  const auto expected = [](std::uint32_t i, int which) {
    return which == 0 ? i % 3 == 0 : which == 1 ? i % 3 != 0 && i % 5 == 0 : i % 3 != 0 && i % 5 != 0 && i % 7 == 0;
  };

  const std::shared_ptr<const RowMatcher> matchers[] = {dns, echo, needle};
  for (int which = 0; which < 3; ++which) {
    const auto filter = RowFilter::Start(*spool, matchers[which]);
    ASSERT_TRUE(filter);
    // Rows that arrive while it runs are looked at as well.
    add(1000);
    std::vector<std::uint64_t> wanted;
    for (std::uint32_t i = 0; i < spool->RowCount(); ++i) {
      if (expected(i, which)) wanted.push_back(i);
    }
    ASSERT_TRUE(Eventually([&] { return filter->RowsLookedAt() == spool->RowCount(); })) << which;
    ASSERT_EQ(filter->Matches(), wanted.size()) << which;
    for (std::size_t match = 0; match < wanted.size(); ++match) ASSERT_EQ(filter->SpoolIndex(match), wanted[match]);
    EXPECT_EQ(filter->MatchAtOrAfter(wanted[10]), 10u);
    EXPECT_EQ(filter->MatchAtOrAfter(wanted[10] + 1), 11u);
    EXPECT_FALSE(filter->MatchAtOrAfter(wanted.back() + 1));

    // A search over the filter's matches, or over all rows, from either side.
    const std::uint64_t rows = spool->RowCount();
    RowSearch down(*spool, nullptr, matchers[which], rows - 1, rows, false);
    RowSearch up(*spool, nullptr, matchers[which], wanted[5] + 1, rows, true);
    RowSearch inFilter(*spool, filter.get(), matchers[which], 3, filter->Matches(), false);
    ASSERT_TRUE(Eventually([&] { return down.Done() && up.Done() && inFilter.Done(); }));
    EXPECT_EQ(down.Found(), wanted.back());
    EXPECT_EQ(up.Found(), wanted[6]);
    EXPECT_EQ(inFilter.Found(), 3u);
  }

  // Nothing found; and a search stopped halfway ends at once.
  std::shared_ptr<const RowMatcher> none = RowMatcher::ForExpression("tcp port 9", error);
  RowSearch nothing(*spool, nullptr, none, 0, spool->RowCount(), true);
  ASSERT_TRUE(Eventually([&] { return nothing.Done(); }));
  EXPECT_FALSE(nothing.Found());
  EXPECT_EQ(nothing.RowsToLookAt(), spool->RowCount());
  { RowSearch stopped(*spool, nullptr, none, spool->RowCount() - 1, spool->RowCount(), false); }
}

// Asked for a row the filter has not reached while it publishes new matches,
// the answer is never a match below that row.
TEST_F(SpoolTest, AMatchAskedForWhileTheFilterPublishesIsNeverBelowTheRowAskedFor) {
  auto spool = RowSpool::Create(directory);
  ASSERT_TRUE(spool);
  for (std::uint32_t i = 0; i < 400'000; ++i) Add(*spool, CraftedRow(i % 3), i);
  std::string error;
  const auto filter = RowFilter::Start(*spool, RowMatcher::ForExpression("udp", error));
  ASSERT_TRUE(filter);
  const std::uint64_t past = spool->RowCount();
  std::uint64_t below = 0;
  while (filter->RowsLookedAt() < past) {
    const std::optional<std::uint64_t> match = filter->MatchAtOrAfter(past);
    below += match.has_value();
  }
  EXPECT_EQ(below, 0u);
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
