// What the caller asks of the socket helper after starting it: the filters,
// the packet limit and the shared block (net/capture_block.h); then, when
// the listed rows go straight into the caller's list files, those files;
// and after the start reply, its commands.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "capture/unique_fd.h"

namespace orvanel {

// Filters are sent cut to this: longer ones match no dotted address either way.
inline constexpr std::size_t kMaxFilterLength = 255;

struct CaptureRequest {
  std::string srcFilter;
  std::string dstFilter;
  std::uint32_t packetLimit = 0;  // 0: none
  bool listsIntoFiles = false;    // a ListFiles command follows the request
};

[[nodiscard]] bool SendCaptureRequest(int channel, const CaptureRequest& request, int blockFd);

struct ReceivedRequest {
  CaptureRequest request;
  UniqueFd block;
};
// Nothing for a malformed request, one without a descriptor or none in time.
std::optional<ReceivedRequest> ReceiveCaptureRequest(int channel, std::chrono::milliseconds limit);

// The caller's commands; the channel closing is Stop too.
inline constexpr std::uint8_t kFinishCommand = 'F';
inline constexpr std::uint8_t kStopCommand = 'S';
inline constexpr std::uint8_t kListFilesCommand = 'L';

// The files the helper appends listed rows to from its next row on, after
// the rows they hold already; none (no descriptors): rows are not passed.
// Rows it appended to the files before them but captured since clearedAtNs
// (a Clear's time) it carries over.
struct ListFiles {
  UniqueFd data;
  UniqueFd index;
  std::uint64_t rows = 0;
  std::uint64_t dataUsed = 0;
  std::int64_t clearedAtNs = 0;
};
// The same on the caller's side; descriptors -1: none.
struct ListFilesToPass {
  int dataFd = -1;
  int indexFd = -1;
  std::uint64_t rows = 0;
  std::uint64_t dataUsed = 0;
  std::int64_t clearedAtNs = 0;
};
[[nodiscard]] bool SendListFiles(int channel, const ListFilesToPass& files);

struct Command {
  std::uint8_t kind = kStopCommand;
  ListFiles files;  // kListFilesCommand's
};
// Waits up to limit for the next command; anything malformed, the channel
// closing or nothing in time is Stop.
Command ReceiveCommand(int channel, std::chrono::milliseconds limit);

}  // namespace orvanel
