// One datagram of any bytes through the whole loop: decode, classify, count,
// row choice and row building, with option states and filters from the input.
// Each row then takes the dialog's way: the row queue, the packet store and
// the payload display decoding of every column.
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture/capture_loop.h"
#include "ui/packet_store.h"
#include "ui/payload_display.h"
#include "ui/row_queue.h"

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

using Row = std::array<std::string, kPacketColumnCount>;

// Keeps a copy of every row (reading every byte of every text, so a view past
// its buffer is caught) and hands each call on to the dialog's row queue.
class TeeTable final : public PacketTable {
 public:
  explicit TeeTable(RowQueue& queue) : queue_(queue) {}

  void InsertItem(int index, std::string_view text) override {
    if (index != 0 || text.empty()) std::abort();
    rows.emplace_back();
    rows.back()[0] = text;
    queue_.InsertItem(index, text);
  }
  void SetItemText(int item, int column, std::string_view text) override {
    if (item != 0 || column < 1 || column >= kPacketColumnCount || rows.empty()) std::abort();
    rows.back()[column] = text;
    queue_.SetItemText(item, column, text);
  }

  std::vector<Row> rows;  // oldest first

 private:
  RowQueue& queue_;
};

// What the payload display promises: nothing that could break a table row.
bool Displayable(const QString& text) {
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20 || (u >= 0x7F && u < 0xA0) || u == 0x2028 || u == 0x2029 || (u >= 0xE000 && u <= 0xF8FF)) {
      return false;
    }
  }
  return true;
}

// The store must give back every text the loop set, and each must display.
void CheckDialogRows(const std::vector<Row>& rows, const PacketStore& store) {
  if (store.Size() != rows.size()) std::abort();
  for (std::size_t row = 0; row < rows.size(); ++row) {
    for (int column = 0; column < kPacketColumnCount; ++column) {
      std::array<char, 16> scratch;
      const std::string_view stored = store.ColumnText(row, column, scratch);
      if (stored != rows[row][column]) std::abort();
      const QString shown = PayloadDisplayText(QByteArrayView(stored.data(), static_cast<qsizetype>(stored.size())));
      if (shown.isEmpty() != stored.empty() || !Displayable(shown)) std::abort();
    }
  }
}

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
  RowQueue queue;
  TeeTable table(queue);
  const CaptureContext context{capturing, source, counters, options, table, srcFilter, dstFilter};
  CaptureThreadProc(context);

  int total = 0;
  for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
    total += counters.Count(TrafficGroup::All, static_cast<ProtocolClass>(protocol));
  }
  if (total != 1) std::abort();  // every datagram counts once in All

  queue.PublishPending();
  PacketStore store;
  queue.DrainInto(&store);
  CheckDialogRows(table.rows, store);
  return 0;
}
