#include "session/file_reading.h"

#include <thread>

#include "capture/capture_loop.h"
#include "storage/last_packet.h"

namespace orvanel {

// What one read owns: its files, its context and its thread.
struct FileReading::Running {
  Running(const std::vector<std::string>& names, const std::atomic<bool>& bReading, PacketCounters& counters,
          const CaptureOptions& options, PacketTable& table, const std::string& srcFilter,
          const std::string& dstFilter, const std::string& dumpDirectory)
      : source(names),
        files(dumpDirectory),
        context{bReading, source, counters, options, table, srcFilter, dstFilter, &files} {}

  PcapFileSource source;
  LastPacketFiles files;
  CaptureContext context;
  std::thread thread;
};

FileReading::FileReading(PacketCounters& counters, const CaptureOptions& options, PacketTable& table,
                         std::string dumpDirectory)
    : counters_(counters), options_(options), table_(table), dumpDirectory_(std::move(dumpDirectory)) {}

FileReading::~FileReading() {
  Cancel();
  static_cast<void>(Finish());
}

std::optional<CaptureFileError> FileReading::Start(const std::vector<std::string>& files,
                                                   const std::string& srcFilter, const std::string& dstFilter,
                                                   std::function<void()> ended) {
  if (running_) return std::nullopt;
  auto running = std::make_unique<Running>(files, bReading_, counters_, options_, table_, srcFilter, dstFilter,
                                          dumpDirectory_);
  if (running->source.Failure()) return running->source.Failure();
  running_ = std::move(running);
  counters_.ZeroGroupCounters();
  bReading_.store(true, std::memory_order_release);  // before the thread's first test
  running_->thread = std::thread([running = running_.get(), ended = std::move(ended)] {
    CaptureThreadProc(running->context);
    if (ended) ended();
  });
  return std::nullopt;
}

void FileReading::Cancel() { bReading_.store(false, std::memory_order_release); }

std::optional<CaptureFileError> FileReading::Finish() {
  if (!running_) return std::nullopt;
  running_->thread.join();
  bReading_.store(false, std::memory_order_release);
  std::optional<CaptureFileError> failure = running_->source.Failure();
  running_.reset();
  return failure;
}

std::uint64_t FileReading::BytesRead() const { return running_ ? running_->source.BytesRead() : 0; }

std::uint64_t FileReading::TotalBytes() const { return running_ ? running_->source.TotalBytes() : 0; }

}  // namespace orvanel
