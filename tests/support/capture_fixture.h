// A capture session with every box ticked, a recording table and a dump
// directory of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "session/capture_session.h"
#include "tests/support/recording_table.h"
#include "tests/support/test_files.h"

namespace orvanel::test {

class CaptureFixture : public testing::Test {
 protected:
  CaptureFixture();

  std::int32_t Count(TrafficGroup group, ProtocolClass protocol) const { return counters.Count(group, protocol); }
  std::string DumpFile(const char* name) const { return FileContents(dumpDirectory / name); }

  // Declared before the session, so they outlive its capture thread.
  PacketCounters counters;
  AtomicCaptureOptions options;
  RecordingTable table;
  const ScratchDirectory scratch{"orvanel-net"};
  const std::filesystem::path dumpDirectory = scratch.path();
  std::unique_ptr<CaptureSession> session;
};

// For tests that count the process's descriptors: the last-packet writer opens
// descriptors of its own, which are not the session's, so its box stays clear.
class CaptureFixtureWithoutSaving : public CaptureFixture {
 protected:
  CaptureFixtureWithoutSaving() { options.Set(CaptureOption::SaveLast, kUnchecked); }
};

}  // namespace orvanel::test
