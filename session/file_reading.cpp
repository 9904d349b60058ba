#include "session/file_reading.h"

namespace orvanel {

// What one read owns: its files and its run of the loop.
struct FileReading::Running {
  Running(const std::vector<std::string>& names, const std::atomic<bool>& bReading, const LoopTargets& targets,
          const std::string& srcFilter, const std::string& dstFilter)
      : source(names), run(bReading, source, targets, srcFilter, dstFilter) {}

  PcapFileSource source;
  LoopRun run;
};

FileReading::FileReading(PacketCounters& counters, const CaptureOptions& options, PacketTable& table,
                         std::string dumpDirectory, ConversationTable* conversations, SaveFailures* saveFailures)
    : targets_{counters, options, table, std::move(dumpDirectory), conversations, saveFailures} {}

FileReading::~FileReading() {
  Cancel();
  static_cast<void>(Finish());
}

std::optional<CaptureFileError> FileReading::Start(const std::vector<std::string>& files, const std::string& srcFilter,
                                                   const std::string& dstFilter, std::function<void()> ended) {
  if (running_) return std::nullopt;
  auto running = std::make_unique<Running>(files, bReading_, targets_, srcFilter, dstFilter);
  if (running->source.Failure()) return running->source.Failure();
  running_ = std::move(running);
  targets_.counters.ZeroGroupCounters();
  bReading_.store(true, std::memory_order_release);  // before the thread's first test
  running_->run.thread = std::thread([running = running_.get(), ended = std::move(ended)] {
    CaptureThreadProc(running->run.context);
    if (ended) ended();
  });
  return std::nullopt;
}

void FileReading::Cancel() { bReading_.store(false, std::memory_order_release); }

std::optional<CaptureFileError> FileReading::Finish() {
  if (!running_) return std::nullopt;
  running_->run.thread.join();
  bReading_.store(false, std::memory_order_release);
  std::optional<CaptureFileError> failure = running_->source.Failure();
  running_.reset();
  return failure;
}

std::uint64_t FileReading::BytesRead() const { return running_ ? running_->source.BytesRead() : 0; }

std::uint64_t FileReading::TotalBytes() const { return running_ ? running_->source.TotalBytes() : 0; }

}  // namespace orvanel
