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
};
constexpr std::uint32_t kMagic = 0x4f525652;  // "RVRO"

}  // namespace

bool SendCaptureRequest(int channel, const CaptureRequest& request, int blockFd) {
  // A prefix longer than a dotted address matches none, cut or not.
  const std::string_view src = std::string_view(request.srcFilter).substr(0, kMaxFilterLength);
  const std::string_view dst = std::string_view(request.dstFilter).substr(0, kMaxFilterLength);
  const RequestHead head{kMagic, request.packetLimit, static_cast<std::uint16_t>(src.size()),
                         static_cast<std::uint16_t>(dst.size())};
  std::vector<std::uint8_t> bytes(sizeof head);
  std::memcpy(bytes.data(), &head, sizeof head);
  bytes.insert(bytes.end(), src.begin(), src.end());
  bytes.insert(bytes.end(), dst.begin(), dst.end());
  return SendChannelMessage(channel, bytes, blockFd);
}

std::optional<ReceivedRequest> ReceiveCaptureRequest(int channel, std::chrono::milliseconds limit) {
  std::uint8_t data[sizeof(RequestHead) + 2 * kMaxFilterLength + 1];
  ChannelMessage message = ReceiveChannelMessage(channel, data, limit);
  RequestHead head;
  if (message.length < static_cast<ssize_t>(sizeof head) || message.truncated || !message.fd.valid()) {
    return std::nullopt;
  }
  std::memcpy(&head, data, sizeof head);
  if (head.magic != kMagic || head.srcLength > kMaxFilterLength || head.dstLength > kMaxFilterLength ||
      message.length != static_cast<ssize_t>(sizeof head + head.srcLength + head.dstLength)) {
    return std::nullopt;
  }
  const char* text = reinterpret_cast<const char*>(data + sizeof head);
  return ReceivedRequest{
      {std::string(text, head.srcLength), std::string(text + head.srcLength, head.dstLength), head.packetLimit},
      std::move(message.fd)};
}

}  // namespace orvanel
