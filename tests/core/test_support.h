// Datagram builders and recording stand-ins for the loop's collaborators.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/address_text.h"
#include "capture/capture_loop.h"
#include "capture/packet_decode.h"

namespace orvanel::test {

// An IPv4 datagram laid out as a sender would, with real header lengths.
struct Datagram {
  std::uint8_t protocol = kProtocolUDP;
  std::string source = "10.0.0.1";
  std::string destination = "10.0.0.2";
  std::uint16_t sourcePort = 1234;
  std::uint16_t destinationPort = 80;
  std::vector<std::uint8_t> ipOptions{};   // multiple of 4 bytes
  std::vector<std::uint8_t> tcpOptions{};  // multiple of 4 bytes
  std::string payload{};
  int totalLengthField = -1;  // -1: the real length

  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> bytes(20, 0);
    bytes[0] = static_cast<std::uint8_t>(0x40 | (20 + ipOptions.size()) / 4);
    bytes[8] = 64;
    bytes[9] = protocol;
    inet_pton(AF_INET, source.c_str(), bytes.data() + 12);
    inet_pton(AF_INET, destination.c_str(), bytes.data() + 16);
    bytes.insert(bytes.end(), ipOptions.begin(), ipOptions.end());
    if (protocol == kProtocolTCP || protocol == kProtocolUDP) {
      std::uint8_t ports[4] = {std::uint8_t(sourcePort >> 8), std::uint8_t(sourcePort),
                               std::uint8_t(destinationPort >> 8), std::uint8_t(destinationPort)};
      bytes.insert(bytes.end(), ports, ports + 4);
      const std::size_t rest = protocol == kProtocolTCP ? 16 : 4;
      bytes.insert(bytes.end(), rest, 0);
      if (protocol == kProtocolTCP) {
        bytes[bytes.size() - 8] = static_cast<std::uint8_t>((20 + tcpOptions.size()) / 4 << 4);
        bytes.insert(bytes.end(), tcpOptions.begin(), tcpOptions.end());
      }
    } else if (protocol == kProtocolICMP) {
      bytes.insert(bytes.end(), {8, 0, 0, 0, 0, 1, 0, 1});
    }
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    const auto total = static_cast<std::uint16_t>(totalLengthField < 0 ? bytes.size() : totalLengthField);
    bytes[2] = static_cast<std::uint8_t>(total >> 8);
    bytes[3] = static_cast<std::uint8_t>(total);
    return bytes;
  }
};

// Copies bytes (cut to the buffer) to the start of buffer, the rest zero.
inline ReceiveBuffer BufferOf(const std::vector<std::uint8_t>& bytes) {
  ReceiveBuffer buffer{};
  if (!bytes.empty()) std::memcpy(buffer.data(), bytes.data(), std::min(bytes.size(), buffer.size()));
  return buffer;
}

// Keeps the table as rows of seven texts, as the shared formatter makes them,
// with the bytes and capture time each row was handed.
class RecordingTable final : public PacketTable {
 public:
  void AddRow(const ListedRow& row) override {
    PacketRow texts;
    BuildPacketRow(row, texts);
    rows.insert(rows.begin(), std::vector<std::string>(texts.columns.begin(), texts.columns.end()));
    datagrams.insert(datagrams.begin(), std::vector<std::uint8_t>(row.datagram.begin(), row.datagram.end()));
    captureTimes.insert(captureTimes.begin(), row.captureTimeNs);
  }

  std::vector<std::vector<std::string>> rows;  // row 0 is the top of the table
  std::vector<std::vector<std::uint8_t>> datagrams;
  std::vector<std::int64_t> captureTimes;
};

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
    return {step.status, length};
  }
  std::vector<bool> allZeroOnEntry;  // one entry per receive that got a step
  int exhaustedReceives = 0;

 private:
  std::vector<Step> steps_;
  std::size_t next_ = 0;
};

inline ScriptedSource::Step PacketStep(const Datagram& datagram) {
  return {ReceiveStatus::Packet, datagram.Bytes()};
}

}  // namespace orvanel::test
