// What a live capture and a read of capture files share: where the capture
// loop puts what it finds, and the state of one run of it on a thread.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "capture/capture_loop.h"
#include "capture/capture_options.h"
#include "capture/conversation_table.h"
#include "capture/counters.h"
#include "capture/listed_row.h"
#include "capture/packet_source.h"
#include "storage/last_packet.h"

namespace orvanel {

// The tables are written from the loop's thread only. dumpDirectory is where
// listed packets are written while the save box is checked; saveFailures
// counts those that could not be.
struct LoopTargets {
  PacketCounters& counters;
  const CaptureOptions& options;
  PacketTable& table;
  std::string dumpDirectory;
  ConversationTable* conversations = nullptr;  // none: conversations are not kept
  SaveFailures* saveFailures = nullptr;        // none: failures are not counted
};

// One run of the loop over a source: its last-packet files, its context and its thread.
struct LoopRun {
  LoopRun(const std::atomic<bool>& running, PacketSource& source, const LoopTargets& targets,
          const std::string& srcFilter, const std::string& dstFilter)
      : files(targets.dumpDirectory, targets.saveFailures),
        context{running,   source,    targets.counters, targets.options,      targets.table,
                srcFilter, dstFilter, &files,           targets.conversations} {}

  LastPacketFiles files;
  CaptureContext context;
  std::thread thread;
};

}  // namespace orvanel
