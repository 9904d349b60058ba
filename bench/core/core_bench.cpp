// ns per packet for the capture loop over 1M in-memory datagrams: counting
// only, next to the replay alone (what any loop over this source pays);
// counting with conversations kept, on that traffic (a new conversation
// every datagram) and on the floods' one flow, next to counting only; and
// every packet listed into the dialog's row spool, next to the same loop
// keeping the rows' texts in memory, addresses made by inet_ntop.
// Rates are per CPU second of the one loop thread, as the machine is shared.
// Then the spool's writer alone, rows of one size added until the spool is
// let go, next to write() of the same bytes to a file beside it (what
// tcpdump -w pays): CPU of the writing thread and of the whole process.
// Last the capture thread's longest stall: the longest one row takes to be
// added to the spool in a paced flood while another thread clears the list
// every second, as "清除列表" does, next to the longest one row takes to be
// written to a file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include "bench/core/recorded_traffic.h"
#include "capture/capture_loop.h"
#include "capture/conversation_table.h"
#include "capture/unique_fd.h"
#include "storage/row_spool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace orvanel::bench {
namespace {

constexpr std::size_t kPackets = 1'000'000;

const RecordedTraffic& Traffic() {
  static const RecordedTraffic traffic = MakeRecordedTraffic(kPackets);
  return traffic;
}

void SetPerPacket(benchmark::State& state) {
  state.counters["per_packet"] = benchmark::Counter(static_cast<double>(state.iterations() * kPackets),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Lists every TCP, UDP and ICMP packet, whichever group it falls in.
void TickEveryListingBox(AtomicCaptureOptions& options) {
  for (int box = 0; box < kCaptureOptionCount; ++box) {
    if (static_cast<CaptureOption>(box) != CaptureOption::SaveLast) {
      options.Set(static_cast<CaptureOption>(box), kChecked);
    }
  }
}

// The dialog's row spool, emptied between passes; counts the rows it took.
class SpoolTable final : public PacketTable {
 public:
  void AddRow(const ListedRow& row) override { spool_->AddRow(row); }
  std::size_t Rows() const { return spool_->Read().RowCount(); }
  void Clear() { spool_->Clear(); }

 private:
  std::unique_ptr<RowSpool> spool_ = RowSpool::CreateInCacheDirectory();
};

// The traffic of the loopback floods: one UDP flow of 64-byte payloads.
const RecordedTraffic& FloodTraffic() {
  static const RecordedTraffic traffic = MakeFloodTraffic(kPackets);
  return traffic;
}

// The capture loop the dialog runs, into Table, with or without conversations.
template <typename Table>
void RunLoop(benchmark::State& state, bool listEverything, const RecordedTraffic& traffic = Traffic(),
             bool conversations = false) {
  ReplaySource source(traffic);
  PacketCounters counters;
  AtomicCaptureOptions options;
  if (listEverything) TickEveryListingBox(options);
  Table table;
  ConversationTable conversationTable;
  const std::atomic<bool> capturing{true};
  const CaptureContext context{capturing,
                               source,
                               counters,
                               options,
                               table,
                               std::string(kLocalPrefix),
                               std::string(kLocalPrefix),
                               nullptr,
                               conversations ? &conversationTable : nullptr};
  for (auto _ : state) {
    state.PauseTiming();
    source.Rewind();
    table.Clear();
    conversationTable.Clear();
    conversationTable.FinishClear();
    state.ResumeTiming();
    CaptureThreadProc(context);
  }
  if (conversations && conversationTable.Held() == 0) state.SkipWithError("no conversation was kept");
  if (counters.Count(TrafficGroup::All, ProtocolClass::TCP) + counters.Count(TrafficGroup::All, ProtocolClass::UDP) ==
      0) {
    state.SkipWithError("nothing was counted");
  }
  if (listEverything && table.Rows() == 0) state.SkipWithError("nothing was listed");
  state.counters["rows"] = static_cast<double>(table.Rows());
  SetPerPacket(state);
}

// Every datagram received and nothing done with it: the floor under any loop.
void ReplayAlone(benchmark::State& state) {
  ReplaySource source(Traffic());
  ReceiveBuffer buffer{};
  std::size_t received = 0;
  for (auto _ : state) {
    state.PauseTiming();
    source.Rewind();
    state.ResumeTiming();
    while (source.Receive(buffer).status == ReceiveStatus::Packet) ++received;
    benchmark::DoNotOptimize(buffer);
  }
  if (received == 0) state.SkipWithError("nothing was received");
  SetPerPacket(state);
}

void CountOnly(benchmark::State& state) { RunLoop<SpoolTable>(state, false); }
// Every datagram of the recorded traffic is a conversation of its own: a
// million new ones a pass, the table's limit.
void CountConversations(benchmark::State& state) { RunLoop<SpoolTable>(state, false, Traffic(), true); }
void FloodCountOnly(benchmark::State& state) { RunLoop<SpoolTable>(state, false, FloodTraffic()); }
void FloodCountConversations(benchmark::State& state) { RunLoop<SpoolTable>(state, false, FloodTraffic(), true); }
void ListEverything(benchmark::State& state) { RunLoop<SpoolTable>(state, true); }
void ListEverythingInetNtop(benchmark::State& state) { RunLoop<TextTable>(state, true); }

double CpuSeconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Holds a writer to a rate (0: none), as captured traffic comes: a sleep
// every 1024 rows.
class Pace {
 public:
  explicit Pace(std::int64_t rowsPerSecond) : rate_(rowsPerSecond) {}
  void After(std::size_t rows) const {
    if (rate_ == 0 || rows % 1024 != 0) return;
    const auto due = std::chrono::nanoseconds(static_cast<std::int64_t>(rows) * 1'000'000'000 / rate_);
    std::this_thread::sleep_until(start_ + due);
  }

 private:
  const std::int64_t rate_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Rows into a spool of their own, which is then let go (its files' release
// is part of the cost). False when not every row was listed.
bool SpoolRows(const std::vector<std::uint8_t>& datagram, std::size_t rows, const Pace& pace) {
  auto spool = RowSpool::CreateInCacheDirectory();
  ListedRow row;
  row.datagram = datagram;
  for (std::size_t i = 0; i < rows; ++i) {
    row.captureTimeNs = static_cast<std::int64_t>(i);
    spool->AddRow(row);
    pace.After(i + 1);
  }
  return spool->Read().RowCount() == rows;
}

// The same bytes gathered in 64 KiB and written to an unnamed file in the
// spool's directory, which is then let go.
bool WriteRowsToFile(const std::vector<std::uint8_t>& datagram, std::size_t rows, const Pace& pace) {
  static const std::string directory = RowSpool::CreateInCacheDirectory()->Directory();
  const UniqueFd file(open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  std::vector<std::uint8_t> buffer(64 << 10);
  std::size_t used = 0;
  bool written = file.valid();
  for (std::size_t i = 0; i < rows && written; ++i) {
    if (used + datagram.size() > buffer.size()) {
      written = write(file.get(), buffer.data(), used) == static_cast<ssize_t>(used);
      used = 0;
    }
    std::memcpy(buffer.data() + used, datagram.data(), datagram.size());
    used += datagram.size();
    pace.After(i + 1);
  }
  return written && write(file.get(), buffer.data(), used) == static_cast<ssize_t>(used);
}

// range(0) rows of UDP datagrams with range(1)-byte payloads, range(2) a
// second (0: as fast as they go).
template <bool (*kWrite)(const std::vector<std::uint8_t>&, std::size_t, const Pace&)>
void WriteRows(benchmark::State& state) {
  const auto rows = static_cast<std::size_t>(state.range(0));
  const std::vector<std::uint8_t> datagram(28 + static_cast<std::size_t>(state.range(1)), 0x45);
  double thread = 0;
  double process = 0;
  for (auto _ : state) {
    const double threadStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const double processStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    if (!kWrite(datagram, rows, Pace(state.range(2)))) state.SkipWithError("not every row was written");
    thread += CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - threadStart;
    process += CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart;
  }
  const double written = static_cast<double>(state.iterations()) * static_cast<double>(rows);
  state.counters["per_packet"] = process / written;  // seconds of the process per row
  state.counters["writer_ns"] = thread / written * 1e9;
}

void SpoolWrite(benchmark::State& state) { WriteRows<SpoolRows>(state); }
void FileWrite(benchmark::State& state) { WriteRows<WriteRowsToFile>(state); }

// The writer's longest wall time for one row, range(0) rows of range(1)-byte
// payloads at range(2) a second, while Clear() runs every second on a
// thread of its own (and how long the longest Clear took there).
template <typename Writer>
void LongestStall(benchmark::State& state) {
  const auto rows = static_cast<std::size_t>(state.range(0));
  ListedRow row;
  const std::vector<std::uint8_t> datagram(28 + static_cast<std::size_t>(state.range(1)), 0x45);
  row.datagram = datagram;
  std::chrono::steady_clock::duration longest{};
  std::chrono::steady_clock::duration longestClear{};  // on the clearing thread
  double waits = 0;
  for (auto _ : state) {
    Writer writer;
    std::atomic<bool> writing{true};
    std::thread clearing([&] {
      for (auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);; next += std::chrono::seconds(1)) {
        while (writing.load() && std::chrono::steady_clock::now() < next) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!writing.load()) break;
        const auto start = std::chrono::steady_clock::now();
        writer.Clear();
        longestClear = std::max(longestClear, std::chrono::steady_clock::now() - start);
      }
    });
    const Pace pace(state.range(2));
    for (std::size_t i = 0; i < rows; ++i) {
      row.captureTimeNs = static_cast<std::int64_t>(i);
      const auto start = std::chrono::steady_clock::now();
      writer.Add(row);
      longest = std::max(longest, std::chrono::steady_clock::now() - start);
      pace.After(i + 1);
    }
    writing.store(false);
    clearing.join();
    waits += writer.Waits();
  }
  state.counters["longest_ms"] = std::chrono::duration<double, std::milli>(longest).count();
  state.counters["longest_clear_ms"] = std::chrono::duration<double, std::milli>(longestClear).count();
  state.counters["writer_waits"] = waits;
}

struct StallSpool {
  void Add(const ListedRow& row) { spool->AddRow(row); }
  void Clear() { spool->Clear(); }
  double Waits() const { return static_cast<double>(spool->WriterWaits()); }
  const std::unique_ptr<RowSpool> spool = RowSpool::CreateInCacheDirectory();
};

// As tcpdump -w writes: 64 KiB at a time to one file, never cleared.
struct StallFile {
  void Add(const ListedRow& row) {
    if (used + row.datagram.size() > buffer.size()) {
      if (write(file.get(), buffer.data(), used) != static_cast<ssize_t>(used)) std::abort();
      used = 0;
    }
    std::memcpy(buffer.data() + used, row.datagram.data(), row.datagram.size());
    used += row.datagram.size();
  }
  void Clear() {}
  double Waits() const { return 0; }
  const UniqueFd file{
      open(RowSpool::CreateInCacheDirectory()->Directory().c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600)};
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(64 << 10);
  std::size_t used = 0;
};

void SpoolStall(benchmark::State& state) { LongestStall<StallSpool>(state); }
void FileStall(benchmark::State& state) { LongestStall<StallFile>(state); }

BENCHMARK(CountOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(CountConversations)->Unit(benchmark::kMillisecond);
BENCHMARK(FloodCountOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(FloodCountConversations)->Unit(benchmark::kMillisecond);
BENCHMARK(ReplayAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(ListEverything)->Unit(benchmark::kMillisecond);
BENCHMARK(ListEverythingInetNtop)->Unit(benchmark::kMillisecond);
// Flat out, and at the rates of the floods the dialog is measured with.
void SpoolWriteCases(benchmark::internal::Benchmark* cases) {
  cases->Args({1'000'000, 64, 0})->Args({200'000, 1400, 0});
  cases->Args({600'000, 64, 300'000})->Args({400'000, 1400, 200'000})->Unit(benchmark::kMillisecond);
}
BENCHMARK(SpoolWrite)->Apply(SpoolWriteCases);
BENCHMARK(FileWrite)->Apply(SpoolWriteCases);
// The 2M-datagram flood of 64-byte payloads, at the rate the dialog lists it.
BENCHMARK(SpoolStall)->Args({2'000'000, 64, 300'000})->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(FileStall)->Args({2'000'000, 64, 300'000})->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace orvanel::bench

BENCHMARK_MAIN();
