// One datagram of any bytes through the whole loop: decode, classify, count,
// row choice and row building, with option states and filters from the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "capture/capture_loop.h"

namespace {

using namespace orvanel;

class OneDatagram final : public PacketSource {
 public:
  OneDatagram(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  ReceiveResult Receive(ReceiveBuffer& buffer) override {
    if (delivered_) return {ReceiveStatus::Exhausted, 0};
    delivered_ = true;
    const std::size_t length = size_ < buffer.size() ? size_ : buffer.size();
    std::memcpy(buffer.data(), data_, length);
    return {ReceiveStatus::Packet, length};
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  bool delivered_ = false;
};

// Reads every byte of every text, so a view past its buffer is caught.
class CheckingTable final : public PacketTable {
 public:
  void InsertItem(int index, std::string_view text) override {
    if (index != 0 || text.empty()) std::abort();
    Touch(text);
  }
  void SetItemText(int item, int column, std::string_view text) override {
    if (item != 0 || column < 1 || column >= kPacketColumnCount) std::abort();
    Touch(text);
  }

 private:
  void Touch(std::string_view text) {
    for (char c : text) checksum_ += static_cast<unsigned char>(c);
  }
  unsigned checksum_ = 0;
};

std::string TakeText(const std::uint8_t*& data, std::size_t& size) {
  if (size == 0) return {};
  std::size_t length = data[0] % 24;
  ++data, --size;
  if (length > size) length = size;
  std::string text(reinterpret_cast<const char*>(data), length);
  data += length, size -= length;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  AtomicCaptureOptions options;
  const unsigned boxes = data[0] | data[1] << 8;
  for (int option = 0; option < kCaptureOptionCount - 1; ++option) {
    options.Set(static_cast<CaptureOption>(option), boxes >> option & 1 ? kChecked : kUnchecked);
  }
  data += 2, size -= 2;
  std::string srcFilter = TakeText(data, size);
  std::string dstFilter = TakeText(data, size);

  std::atomic<bool> capturing{true};
  OneDatagram source(data, size);
  PacketCounters counters;
  CheckingTable table;
  const CaptureContext context{capturing, source, counters, options, table, srcFilter, dstFilter};
  CaptureThreadProc(context);

  int total = 0;
  for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
    total += counters.Count(TrafficGroup::All, static_cast<ProtocolClass>(protocol));
  }
  if (total != 1) std::abort();  // every datagram counts once in All
  return 0;
}
