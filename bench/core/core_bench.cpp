// ns per packet for the capture loop over 1M in-memory datagrams: counting
// only, next to the replay alone (what any loop over this source pays), and
// every packet listed into the dialog's row spool, next to the same loop
// keeping the rows' texts in memory, addresses made by inet_ntop.
// Rates are per CPU second of the one loop thread, as the machine is shared.
#include <benchmark/benchmark.h>

#include "bench/core/recorded_traffic.h"
#include "capture/capture_loop.h"
#include "storage/row_spool.h"

#include <memory>

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
  std::size_t Rows() const { return spool_->RowCount(); }
  void Clear() {
    spool_->Clear();
    spool_->FinishClear();
  }

 private:
  std::unique_ptr<RowSpool> spool_ = RowSpool::CreateInCacheDirectory();
};

// The capture loop the dialog runs, into Table.
template <typename Table>
void RunLoop(benchmark::State& state, bool listEverything) {
  ReplaySource source(Traffic());
  PacketCounters counters;
  AtomicCaptureOptions options;
  if (listEverything) TickEveryListingBox(options);
  Table table;
  const std::atomic<bool> capturing{true};
  const CaptureContext context{capturing, source, counters, options, table, std::string(kLocalPrefix),
                               std::string(kLocalPrefix)};
  for (auto _ : state) {
    state.PauseTiming();
    source.Rewind();
    table.Clear();
    state.ResumeTiming();
    CaptureThreadProc(context);
  }
  if (counters.Count(TrafficGroup::All, ProtocolClass::TCP) == 0) state.SkipWithError("nothing was counted");
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
void ListEverything(benchmark::State& state) { RunLoop<SpoolTable>(state, true); }
void ListEverythingInetNtop(benchmark::State& state) { RunLoop<TextTable>(state, true); }

BENCHMARK(CountOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(ReplayAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(ListEverything)->Unit(benchmark::kMillisecond);
BENCHMARK(ListEverythingInetNtop)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvanel::bench

BENCHMARK_MAIN();
