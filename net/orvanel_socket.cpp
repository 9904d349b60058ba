// orvanel-socket ADDRESS: captures on a local IPv4 address for a caller
// without the right to capture. Over descriptor 3, a Unix socket pair end,
// it takes the filters, the packet limit, the shared block
// (net/capture_block.h) and maybe the caller's list files, answers how
// opening the socket went, then runs the capture loop into them (its counts,
// listed rows and every counted packet for the caller's conversations)
// until told to stop or the channel closes.
// The socket and its ring never leave this process. It holds the right as
// a file capability, so it takes nothing from its caller but that argument
// and that descriptor, and trusts nothing it is passed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "capture/capture_loop.h"
#include "capture/limited_source.h"
#include "net/capture_block.h"
#include "net/capture_request.h"
#include "net/capture_slots.h"
#include "net/capture_socket.h"
#include "net/channel_message.h"
#include "net/counted_ring.h"
#include "net/helper_channel.h"
#include "net/helper_confinement.h"
#include "net/packet_ring.h"
#include "net/row_ring.h"
#include "net/spool_file_writer.h"
#include "net/start_reply.h"

namespace {

using namespace orvanel;

// The caller sends its request right after starting the helper.
constexpr std::chrono::milliseconds kRequestLimit{5000};

// Every descriptor but the channel is closed; 0-2 then read and write
// /dev/null, so nothing written to them by mistake can reach a socket.
bool KeepOnlyTheChannel() {
  if (close_range(0, kHelperChannelFd - 1, 0) != 0 || close_range(kHelperChannelFd + 1, ~0U, 0) != 0) {
    return false;
  }
  for (int fd = 0; fd < kHelperChannelFd; ++fd) {
    if (open("/dev/null", O_RDWR) != fd) return false;
  }
  return true;
}

bool IsDottedIPv4(const char* text) {
  in_addr address;
  return inet_pton(AF_INET, text, &address) == 1;
}

int Refuse(const StartOutcome& outcome) {
  [[maybe_unused]] const bool sent = SendStartReply(kHelperChannelFd, outcome);
  return 1;
}

// The ring, as the loop's source. Before each receive, list files handed
// after a Clear are taken (the commands thread wakes the loop for them, so
// that the rows since the Clear show even when no more come); before the
// loop would wait, the conversations' run is passed on.
class HelperSource final : public PacketSource {
 public:
  HelperSource(PacketRing& ring, SpoolFileWriter* listFiles, CountedRingWriter& counted)
      : ring_(ring), listFiles_(listFiles), counted_(counted) {}
  ReceiveResult Receive(ReceiveBuffer& buffer) override {
    if (listFiles_) listFiles_->TakeHandedFiles();
    if (!ring_.PacketAtHand()) counted_.Flush();
    return ring_.Receive(buffer);
  }

 private:
  PacketRing& ring_;
  SpoolFileWriter* listFiles_;
  CountedRingWriter& counted_;
};

// The caller's commands, on a thread of their own while the loop runs:
// Finish lets the loop take what the kernel holds and end; new list files
// (after a Clear) are handed to the loop; Stop, anything else or the channel
// closing ends it at once.
void FollowCommands(PacketRing& ring, SpoolFileWriter* listFiles, std::atomic<bool>& capturing) {
  for (;;) {
    Command command = ReceiveCommand(kHelperChannelFd, kWaitForever);
    if (command.kind == kFinishCommand) {
      ring.Finish();
    } else if (command.kind == kListFilesCommand && listFiles) {
      listFiles->Hand(std::move(command.files));  // unusable ones: rows are not passed until the next
      ring.Wake();
    } else {
      break;
    }
  }
  capturing.store(false, std::memory_order_release);
  ring.Wake();
}

}  // namespace

int main(int argc, char** argv) {
  clearenv();
  if (!KeepOnlyTheChannel()) return 1;
  // Anything but one dotted IPv4 address is no address chosen, reported after
  // the socket and list steps just as a start in the caller's process would.
  const std::string chosen = argc == 2 && IsDottedIPv4(argv[1]) ? argv[1] : "";
  std::optional<ReceivedRequest> received = ReceiveCaptureRequest(kHelperChannelFd, kRequestLimit);
  const auto shared = received ? SharedCaptureBlock::MapPassed(std::move(received->block)) : nullptr;
  if (!shared) return Refuse({StartResult::SocketCreationFailed, EINVAL});
  CaptureBlock& block = shared->Block();
  std::unique_ptr<SpoolFileWriter> listFiles;
  if (received->request.listsIntoFiles) {
    listFiles = std::make_unique<SpoolFileWriter>(block);
    Command first = ReceiveCommand(kHelperChannelFd, kRequestLimit);
    if (first.kind != kListFilesCommand || !listFiles->Hand(std::move(first.files))) {
      return Refuse({StartResult::SocketCreationFailed, EINVAL});
    }
  }
  const UniqueFd slot = TakeCaptureSlot(getuid());
  if (!slot.valid()) return Refuse({StartResult::TooManyCaptures, 0});
  CaptureSocket opened = OpenCaptureSocket(chosen);
  if (opened.result != StartResult::Started) return Refuse(opened.Outcome());
  const std::unique_ptr<PacketRing> ring = PacketRing::Map(std::move(opened.socket));
  if (!ring) return Refuse({StartResult::ReceiveModeFailed, errno});

  shared->CloseFd();
  ring->CountDropsIn(block.kernelDrops);
  std::atomic<bool> capturing{true};
  std::thread commands(FollowCommands, std::ref(*ring), listFiles.get(), std::ref(capturing));
  if (!ConfineSocketHelper(ring->WakeDescriptor()) || !SendStartReply(kHelperChannelFd, {StartResult::Started})) {
    _exit(1);  // the commands thread is still waiting
  }

  const CaptureRequest& request = received->request;
  BlockCaptureOptions options(block);
  RowRingWriter ringRows(block);
  CountedRingWriter counted(block);
  PacketTable& rows = listFiles ? static_cast<PacketTable&>(*listFiles) : ringRows;
  HelperSource helperSource(*ring, listFiles.get(), counted);
  LimitedSource source(helperSource, block.counters, request.packetLimit);
  CaptureThreadProc(
      {capturing, source, block.counters, options, rows, request.srcFilter, request.dstFilter, nullptr, &counted});
  counted.Flush();
  ring->CountDrops();
  block.interfaceGone.store(ring->InterfaceGone() ? 1 : 0, std::memory_order_relaxed);
  block.loopLeft.store(1, std::memory_order_release);
  commands.join();
  return 0;
}
