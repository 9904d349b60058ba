#include <pcap/pcap.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "session/list_save.h"
#include "session/row_filter.h"
#include "session/row_match.h"
#include "session/row_search.h"
#include "storage/row_spool.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/test_files.h"

namespace orvanel {
namespace {

using test::Datagram;

void Add(RowSpool& spool, const std::vector<std::uint8_t>& bytes, std::int64_t time) {
  spool.AddRow(ListedRowOf(bytes, time));
}

struct RowReaders : ::testing::Test {
  test::ScratchDirectory scratch{"orvanel-readers"};
  std::string directory = (scratch.path() / "spool").string();
};

// Crafted rows: every third a DNS query, every fifth an echo request, the rest
// TCP with "needle" in the payload of every seventh.
std::vector<std::uint8_t> CraftedRow(std::uint32_t i) {
  if (i % 3 == 0) return Datagram{.protocol = kProtocolUDP, .destinationPort = 53, .payload = "query"}.Bytes();
  if (i % 5 == 0) return Datagram{.protocol = kProtocolICMP, .source = "10.9.0.1"}.Bytes();
  return Datagram{.protocol = kProtocolTCP, .payload = i % 7 == 0 ? "a needle here" : "hay"}.Bytes();
}

// Waits for done, a minute at most: long enough for any machine, and no hang.
bool Eventually(const std::function<bool()>& done) {
  for (int wait = 0; wait < 6000 && !done(); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST_F(RowReaders, FilterAndSearchFindExactlyTheMatchingRowsAndTheFilterStaysLive) {
  auto spool = RowSpool::Create(directory);
  ASSERT_TRUE(spool);
  const auto add = [&](std::uint32_t rows) {
    for (std::uint32_t row = 0; row < rows; ++row) {
      const auto index = static_cast<std::uint32_t>(spool->Read().RowCount());
      Add(*spool, CraftedRow(index), index);
    }
  };
  add(20'000);

  std::string error;
  EXPECT_FALSE(RowMatcher::ForExpression("udp and port", error));
  EXPECT_NE(error.find("syntax error"), std::string::npos) << error;  // libpcap's own reason
  std::shared_ptr<const RowMatcher> dns = RowMatcher::ForExpression("udp and dst port 53", error);
  std::shared_ptr<const RowMatcher> echo =
      RowMatcher::ForExpression("icmp[icmptype] == icmp-echo and src net 10.9.0.0/16", error);
  std::shared_ptr<const RowMatcher> needle = RowMatcher::ForPayload({"needle"});
  ASSERT_TRUE(dns && echo && needle);
  EXPECT_FALSE(RowMatcher::ForPayload({""}));
  const auto expected = [](std::uint32_t i, int which) {
    return which == 0 ? i % 3 == 0 : which == 1 ? i % 3 != 0 && i % 5 == 0 : i % 3 != 0 && i % 5 != 0 && i % 7 == 0;
  };

  const std::shared_ptr<const RowMatcher> matchers[] = {dns, echo, needle};
  for (int which = 0; which < 3; ++which) {
    const std::shared_ptr<const RowFilter> filter = RowFilter::Start(*spool, spool->Read(), matchers[which]);
    ASSERT_TRUE(filter);
    // Rows that arrive while it runs are looked at as well.
    add(1000);
    std::vector<std::uint64_t> wanted;
    for (std::uint32_t i = 0; i < spool->Read().RowCount(); ++i) {
      if (expected(i, which)) wanted.push_back(i);
    }
    ASSERT_TRUE(Eventually([&] { return filter->RowsLookedAt() == spool->Read().RowCount(); })) << which;
    ASSERT_EQ(filter->Matches(), wanted.size()) << which;
    for (std::size_t match = 0; match < wanted.size(); ++match) ASSERT_EQ(filter->SpoolIndex(match), wanted[match]);
    EXPECT_EQ(filter->MatchAtOrAfter(wanted[10]), 10u);
    EXPECT_EQ(filter->MatchAtOrAfter(wanted[10] + 1), 11u);
    EXPECT_FALSE(filter->MatchAtOrAfter(wanted.back() + 1));

    // A search over the filter's matches, or over all rows, from either side.
    const std::uint64_t rows = spool->Read().RowCount();
    RowSearch down(spool->Read(), nullptr, matchers[which], rows - 1, rows, false);
    RowSearch up(spool->Read(), nullptr, matchers[which], wanted[5] + 1, rows, true);
    RowSearch inFilter(spool->Read(), filter, matchers[which], 3, filter->Matches(), false);
    ASSERT_TRUE(Eventually([&] { return down.Done() && up.Done() && inFilter.Done(); }));
    EXPECT_EQ(down.Found(), wanted.back());
    EXPECT_EQ(up.Found(), wanted[6]);
    EXPECT_EQ(inFilter.Found(), 3u);
  }

  // Nothing found; and a search stopped halfway ends at once.
  std::shared_ptr<const RowMatcher> none = RowMatcher::ForExpression("tcp port 9", error);
  RowSearch nothing(spool->Read(), nullptr, none, 0, spool->Read().RowCount(), true);
  ASSERT_TRUE(Eventually([&] { return nothing.Done(); }));
  EXPECT_FALSE(nothing.Found());
  EXPECT_EQ(nothing.RowsToLookAt(), spool->Read().RowCount());
  { RowSearch stopped(spool->Read(), nullptr, none, spool->Read().RowCount() - 1, spool->Read().RowCount(), false); }
}

// Asked for a row the filter has not reached while it publishes new matches,
// the answer is never a match below that row.
TEST_F(RowReaders, AMatchAskedForWhileTheFilterPublishesIsNeverBelowTheRowAskedFor) {
  auto spool = RowSpool::Create(directory);
  ASSERT_TRUE(spool);
  for (std::uint32_t i = 0; i < 400'000; ++i) Add(*spool, CraftedRow(i % 3), i);
  std::string error;
  const auto filter = RowFilter::Start(*spool, spool->Read(), RowMatcher::ForExpression("udp", error));
  ASSERT_TRUE(filter);
  const std::uint64_t past = spool->Read().RowCount();
  std::uint64_t below = 0;
  while (filter->RowsLookedAt() < past) {
    const std::optional<std::uint64_t> match = filter->MatchAtOrAfter(past);
    below += match.has_value();
  }
  EXPECT_EQ(below, 0u);
}

// Every packet of a pcapng file, as read back by libpcap.
std::vector<std::vector<std::uint8_t>> SavedPackets(const std::string& path) {
  char reason[PCAP_ERRBUF_SIZE];
  pcap_t* saved = pcap_open_offline(path.c_str(), reason);
  EXPECT_TRUE(saved) << reason;
  std::vector<std::vector<std::uint8_t>> packets;
  pcap_pkthdr* header;
  const u_char* bytes;
  while (saved && pcap_next_ex(saved, &header, &bytes) == 1) packets.emplace_back(bytes, bytes + header->caplen);
  if (saved) pcap_close(saved);
  return packets;
}

std::size_t FilesIn(const std::filesystem::path& directory) {
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) files += entry.is_regular_file();
  return files;
}

TEST_F(RowReaders, ASaveWritesTheRowsShownAndACancelledOneLeavesNoFile) {
  auto spool = RowSpool::Create(directory);
  ASSERT_TRUE(spool);
  for (int i = 0; i < 500'000; ++i) {
    Add(*spool,
        Datagram{.protocol = i % 2 ? kProtocolTCP : kProtocolUDP,
                 .sourcePort = std::uint16_t(i),
                 .destinationPort = 53,
                 .payload = "payload"}
            .Bytes(),
        i);
  }
  const std::string path = (scratch.path() / "list.pcapng").string();
  ListSave cancelled(spool->Read(), nullptr, spool->Read().RowCount(), path);
  cancelled.Cancel();
  cancelled.Wait();
  EXPECT_EQ(cancelled.Error(), ECANCELED);
  EXPECT_LT(cancelled.RowsWritten(), cancelled.Rows());
  EXPECT_EQ(FilesIn(scratch.path()), 0u);  // neither the file nor its temporary

  // The filter's matches, oldest first.
  std::string error;
  const std::shared_ptr<const RowFilter> filter =
      RowFilter::Start(*spool, spool->Read(), RowMatcher::ForExpression("udp", error));
  ASSERT_TRUE(filter);
  ASSERT_TRUE(Eventually([&] { return filter->RowsLookedAt() == spool->Read().RowCount(); }));
  ListSave save(spool->Read(), filter, filter->Matches(), path);
  save.Wait();
  EXPECT_EQ(save.Error(), 0);
  const auto packets = SavedPackets(path);
  ASSERT_EQ(packets.size(), 250'000u);
  for (std::size_t packet = 0; packet < packets.size(); ++packet) {
    ASSERT_EQ(packets[packet][9], kProtocolUDP);
    ASSERT_EQ(packets[packet][20] * 256 + packets[packet][21], std::uint16_t(packet * 2)) << packet;
  }
  ListSave nowhere(spool->Read(), nullptr, 1, (scratch.path() / "missing" / "list.pcapng").string());
  nowhere.Wait();
  EXPECT_EQ(nowhere.Error(), ENOENT);
}

// Readers pin the list they were started on: Clear, rows added after it and
// the spool's own end take nothing from under them. Run under ThreadSanitizer too.
TEST_F(RowReaders, AFilterASearchAndASaveReadTheirListWholeThroughClearsAndTheSpoolsEnd) {
  auto spool = RowSpool::Create(directory);
  ASSERT_TRUE(spool);
  constexpr std::uint32_t kRows = 100'000;
  for (std::uint32_t i = 0; i < kRows; ++i) Add(*spool, CraftedRow(i), i);
  std::string error;
  const RowSpool::Reader list = spool->Read();
  const std::shared_ptr<const RowFilter> filter =
      RowFilter::Start(*spool, list, RowMatcher::ForExpression("udp and dst port 53", error));
  ASSERT_TRUE(filter);
  RowSearch search(list, nullptr, RowMatcher::ForExpression("tcp port 9", error), kRows - 1, kRows, false);
  const std::string path = (scratch.path() / "list.pcapng").string();
  ListSave save(list, nullptr, kRows, path);

  spool->Clear();
  std::thread writer([&] {
    for (std::uint32_t i = 0; i < 20'000; ++i) Add(*spool, CraftedRow(1), i);
  });
  for (int clear = 0; clear < 3; ++clear) spool->Clear();
  writer.join();
  EXPECT_EQ(list.RowCount(), kRows);  // the rows after a Clear went to the next lists
  spool.reset();

  ASSERT_TRUE(Eventually([&] { return filter->RowsLookedAt() == kRows && search.Done(); }));
  EXPECT_EQ(filter->Matches(), (kRows + 2) / 3);
  EXPECT_EQ(filter->SpoolIndex(filter->Matches() - 1), kRows - 1 - (kRows - 1) % 3);
  EXPECT_FALSE(search.Found());
  save.Wait();
  EXPECT_EQ(save.Error(), 0);
  const auto packets = SavedPackets(path);
  ASSERT_EQ(packets.size(), kRows);
  for (std::uint32_t i = 0; i < kRows; i += 997) EXPECT_EQ(packets[i], CraftedRow(i)) << i;
}

}  // namespace
}  // namespace orvanel
