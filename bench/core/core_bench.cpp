// ns per packet for the capture loop over 1M in-memory datagrams: counting
// only, and every packet listed into the dialog's row spool; each next to the
// same loop using inet_ntop and keeping the rows' texts.
// Rates are per CPU second of the one loop thread, as the machine is shared.
#include <benchmark/benchmark.h>

#include "bench/core/peer_loop.h"
#include "bench/core/recorded_traffic.h"
#include "capture/row_spool.h"

#include <memory>

namespace orvanel::bench {
namespace {

constexpr std::size_t kPackets = 1'000'000;

const RecordedTraffic& Traffic() {
  static const RecordedTraffic traffic = MakeRecordedTraffic(kPackets);
  return traffic;
}

using LoopProc = int (*)(const CaptureContext&);

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

template <typename Table>
void RunLoop(benchmark::State& state, LoopProc loop, bool listEverything) {
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
    loop(context);
  }
  if (counters.Count(TrafficGroup::All, ProtocolClass::TCP) == 0) state.SkipWithError("nothing was counted");
  if (listEverything && table.Rows() == 0) state.SkipWithError("nothing was listed");
  state.counters["rows"] = static_cast<double>(table.Rows());
  state.counters["per_packet"] = benchmark::Counter(static_cast<double>(state.iterations() * kPackets),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void CountOnly(benchmark::State& state) { RunLoop<SpoolTable>(state, CaptureThreadProc, false); }
void CountOnlyInetNtop(benchmark::State& state) { RunLoop<TextTable>(state, PeerThreadProc, false); }
void ListEverything(benchmark::State& state) { RunLoop<SpoolTable>(state, CaptureThreadProc, true); }
void ListEverythingInetNtop(benchmark::State& state) { RunLoop<TextTable>(state, PeerThreadProc, true); }

BENCHMARK(CountOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(CountOnlyInetNtop)->Unit(benchmark::kMillisecond);
BENCHMARK(ListEverything)->Unit(benchmark::kMillisecond);
BENCHMARK(ListEverythingInetNtop)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvanel::bench

BENCHMARK_MAIN();
