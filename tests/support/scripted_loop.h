// Scripted stand-ins for the capture loop's collaborators: the receives
// of a packet source and the box states.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "capture/capture_loop.h"
#include "capture/capture_options.h"
#include "tests/support/datagram_builder.h"

namespace orvanel::test {

// Copies bytes (cut to the buffer) to the start of buffer, the rest zero.
inline ReceiveBuffer BufferOf(const std::vector<std::uint8_t>& bytes) {
  ReceiveBuffer buffer{};
  if (!bytes.empty()) std::memcpy(buffer.data(), bytes.data(), std::min(bytes.size(), buffer.size()));
  return buffer;
}

// Box states from a function, with every read recorded.
class ScriptedOptions final : public CaptureOptions {
 public:
  explicit ScriptedOptions(std::function<int(CaptureOption, int readIndex)> script) : script_(std::move(script)) {}
  int State(CaptureOption option) const override {
    reads.push_back(option);
    return script_(option, static_cast<int>(reads.size()) - 1);
  }
  mutable std::vector<CaptureOption> reads;

 private:
  std::function<int(CaptureOption, int)> script_;
};

// Hands out scripted receives, then reports Exhausted.
class ScriptedSource final : public PacketSource {
 public:
  struct Step {
    ReceiveStatus status;
    std::vector<std::uint8_t> bytes;  // written to the buffer, cut to its size
    std::int64_t captureTimeNs = 0;
  };
  explicit ScriptedSource(std::vector<Step> steps) : steps_(std::move(steps)) {}

  ReceiveResult Receive(ReceiveBuffer& buffer) override {
    if (next_ == steps_.size()) {
      ++exhaustedReceives;
      return {ReceiveStatus::Exhausted, 0};
    }
    const Step& step = steps_[next_++];
    bool zeroed = true;
    for (std::uint8_t byte : buffer) zeroed = zeroed && byte == 0;
    allZeroOnEntry.push_back(zeroed);
    const std::size_t length = std::min(step.bytes.size(), buffer.size());
    if (length > 0) std::memcpy(buffer.data(), step.bytes.data(), length);
    return {step.status, length, step.captureTimeNs};
  }
  std::vector<bool> allZeroOnEntry;  // one entry per receive that got a step
  int exhaustedReceives = 0;

 private:
  std::vector<Step> steps_;
  std::size_t next_ = 0;
};

inline ScriptedSource::Step PacketStep(const Datagram& datagram) { return {ReceiveStatus::Packet, datagram.Bytes()}; }

}  // namespace orvanel::test
