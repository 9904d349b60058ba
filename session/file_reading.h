// Reading capture files through the capture loop on a thread of its own, as
// a live capture runs: Start, the files' packets, then the end.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_options.h"
#include "capture/counters.h"
#include "capture/listed_row.h"
#include "session/loop_run.h"
#include "session/pcap_file_source.h"

namespace orvanel {

class FileReading {
 public:
  // table is called from the reading thread only. dumpDirectory is where
  // listed packets are written while the save box is checked; saveFailures
  // counts those that could not be.
  FileReading(PacketCounters& counters, const CaptureOptions& options, PacketTable& table, std::string dumpDirectory,
              ConversationTable* conversations = nullptr, SaveFailures* saveFailures = nullptr);
  ~FileReading();  // cancels a running read and waits for its thread
  FileReading(const FileReading&) = delete;
  FileReading& operator=(const FileReading&) = delete;

  // Opens every file first: a bad one is returned and nothing else happens.
  // Otherwise puts the filters in force, zeroes the group counters as Start
  // does, and starts the thread; it calls ended once it has left its loop.
  [[nodiscard]] std::optional<CaptureFileError> Start(const std::vector<std::string>& files,
                                                      const std::string& srcFilter, const std::string& dstFilter,
                                                      std::function<void()> ended);

  // Started and not yet finished.
  [[nodiscard]] bool IsReading() const { return running_ != nullptr; }
  // Asks the thread to leave its loop after the packet at hand; returns at
  // once (a read from a pipe may still wait for its writer).
  void Cancel();
  // Waits for the thread; the fault that ended the read early, if any.
  // Safe when idle.
  std::optional<CaptureFileError> Finish();

  // Bytes of the files read so far, of TotalBytes (0 when unknown, as for a
  // pipe); any thread may ask.
  [[nodiscard]] std::uint64_t BytesRead() const;
  [[nodiscard]] std::uint64_t TotalBytes() const;

 private:
  struct Running;
  LoopTargets targets_;
  std::atomic<bool> bReading_{false};
  std::unique_ptr<Running> running_;
};

}  // namespace orvanel
