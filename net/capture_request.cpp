#include "net/capture_request.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "net/channel_message.h"

namespace orvanel {
namespace {

// Then the two filters' bytes, source first.
struct RequestHead {
  std::uint32_t magic;
  std::uint32_t packetLimit;
  std::uint16_t srcLength;
  std::uint16_t dstLength;
  std::uint32_t listsIntoFiles;
};
constexpr std::uint32_t kMagic = 0x4f525652;  // "RVRO"

struct ListFilesMessage {
  std::uint8_t kind = kListFilesCommand;
  std::uint8_t padding[7] = {};
  std::uint64_t rows;
  std::uint64_t dataUsed;
  std::int64_t clearedAtNs;
};

}  // namespace

bool SendCaptureRequest(int channel, const CaptureRequest& request, int blockFd) {
  // A prefix longer than a dotted address matches none, cut or not.
  const std::string_view src = std::string_view(request.srcFilter).substr(0, kMaxFilterLength);
  const std::string_view dst = std::string_view(request.dstFilter).substr(0, kMaxFilterLength);
  const RequestHead head{kMagic, request.packetLimit, static_cast<std::uint16_t>(src.size()),
                         static_cast<std::uint16_t>(dst.size()), request.listsIntoFiles};
  std::vector<std::uint8_t> bytes(sizeof head);
  std::memcpy(bytes.data(), &head, sizeof head);
  bytes.insert(bytes.end(), src.begin(), src.end());
  bytes.insert(bytes.end(), dst.begin(), dst.end());
  return SendChannelMessage(channel, bytes, {&blockFd, 1});
}

std::optional<ReceivedRequest> ReceiveCaptureRequest(int channel, std::chrono::milliseconds limit) {
  std::uint8_t data[sizeof(RequestHead) + 2 * kMaxFilterLength + 1];
  ChannelMessage message = ReceiveChannelMessage(channel, data, limit);
  RequestHead head;
  if (message.length < static_cast<ssize_t>(sizeof head) || message.truncated || message.fds.size() != 1) {
    return std::nullopt;
  }
  std::memcpy(&head, data, sizeof head);
  if (head.magic != kMagic || head.srcLength > kMaxFilterLength || head.dstLength > kMaxFilterLength ||
      head.listsIntoFiles > 1 ||
      message.length != static_cast<ssize_t>(sizeof head + head.srcLength + head.dstLength)) {
    return std::nullopt;
  }
  const char* text = reinterpret_cast<const char*>(data + sizeof head);
  return ReceivedRequest{{std::string(text, head.srcLength), std::string(text + head.srcLength, head.dstLength),
                          head.packetLimit, head.listsIntoFiles == 1},
                         std::move(message.fds[0])};
}

bool SendListFiles(int channel, const ListFilesToPass& files) {
  const ListFilesMessage message{.rows = files.rows, .dataUsed = files.dataUsed, .clearedAtNs = files.clearedAtNs};
  const int fds[] = {files.dataFd, files.indexFd};
  return SendChannelMessage(channel, {reinterpret_cast<const std::uint8_t*>(&message), sizeof message},
                            files.dataFd < 0 ? std::span<const int>() : std::span<const int>(fds));
}

Command ReceiveCommand(int channel, std::chrono::milliseconds limit) {
  std::uint8_t data[sizeof(ListFilesMessage) + 1];
  ChannelMessage message = ReceiveChannelMessage(channel, data, limit);
  if (message.truncated) return {};
  if (message.length == 1 && message.fds.empty() && (data[0] == kFinishCommand || data[0] == kStopCommand)) {
    return {data[0], {}};
  }
  ListFilesMessage files;
  if (message.length != static_cast<ssize_t>(sizeof files) || data[0] != kListFilesCommand ||
      (!message.fds.empty() && message.fds.size() != 2)) {
    return {};
  }
  std::memcpy(&files, data, sizeof files);
  Command command{kListFilesCommand, {{}, {}, files.rows, files.dataUsed, files.clearedAtNs}};
  if (message.fds.size() == 2) {
    command.files.data = std::move(message.fds[0]);
    command.files.index = std::move(message.fds[1]);
  }
  return command;
}

}  // namespace orvanel
