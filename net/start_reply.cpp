#include "net/start_reply.h"

#include <cstdint>
#include <cstring>

#include "net/channel_message.h"

namespace orvanel {
namespace {

struct Reply {
  std::uint32_t magic;
  std::int32_t result;
  std::int32_t error;  // errno of the failed step, 0 when none
};
constexpr std::uint32_t kMagic = 0x4f525653;  // "ORVS"

bool IsStartResult(std::int32_t value) {
  return value >= static_cast<std::int32_t>(StartResult::Started) &&
         value <= static_cast<std::int32_t>(StartResult::TooManyCaptures);
}

bool IsErrno(std::int32_t value) { return value >= 0 && value < 4096; }

}  // namespace

bool SendStartReply(int channel, const StartOutcome& outcome) {
  const Reply reply{kMagic, static_cast<std::int32_t>(outcome.result), outcome.error};
  return SendChannelMessage(channel, {reinterpret_cast<const std::uint8_t*>(&reply), sizeof reply});
}

StartOutcome ReceiveStartReply(int channel, std::chrono::milliseconds limit) {
  const StartOutcome failed{StartResult::SocketCreationFailed, 0};
  // One byte more than a reply, so a longer message shows as one.
  std::uint8_t data[sizeof(Reply) + 1];
  const ChannelMessage message = ReceiveChannelMessage(channel, data, limit);
  if (message.length != static_cast<ssize_t>(sizeof(Reply)) || message.truncated || !message.fds.empty()) return failed;
  Reply reply;
  std::memcpy(&reply, data, sizeof reply);
  if (reply.magic != kMagic || !IsStartResult(reply.result) || !IsErrno(reply.error)) return failed;
  return {static_cast<StartResult>(reply.result), reply.error};
}

}  // namespace orvanel
