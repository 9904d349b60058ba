// A capture session with every box ticked, a recording table and a dump
// directory of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "capture/capture_session.h"
#include "recording_table.h"

namespace orvanel::test {

class CaptureFixture : public testing::Test {
 protected:
  CaptureFixture();
  ~CaptureFixture() override;

  std::int32_t Count(TrafficGroup group, ProtocolClass protocol) const { return counters.Count(group, protocol); }
  std::string DumpFile(const char* name) const;

  PacketCounters counters;
  AtomicCaptureOptions options;
  RecordingTable table;
  std::filesystem::path dumpDirectory;
  std::unique_ptr<CaptureSession> session;
};

}  // namespace orvanel::test
