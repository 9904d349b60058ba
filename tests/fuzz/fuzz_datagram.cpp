// One datagram of any bytes through the whole loop: decode, classify, count,
// row choice and the typed row. Each row then takes the dialog's way: the
// spool, the shared formatter and the payload display of every column, and
// its texts must be exactly those worked out here anew from the bytes.
#include <arpa/inet.h>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_loop.h"
#include "capture/conversation_table.h"
#include "capture/packet_decode.h"
#include "capture/packet_row.h"
#include "storage/row_spool.h"
#include "ui/cell_text.h"

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

// The texts a row must have: inet_ntop addresses, "%d" numbers, and for TCP
// and UDP the ports and the payload where the header lengths put them, the
// payload up to its first zero byte or the datagram's end (cut at a total
// length that covers the header).
Row ExpectedTexts(const std::uint8_t* data, std::size_t size) {
  std::array<std::uint8_t, 2048> buffer{};
  std::size_t end = std::min(size, buffer.size());
  std::memcpy(buffer.data(), data, end);
  Row row;
  const std::uint8_t protocol = buffer[9];
  row[0] = protocol == 6 ? "TCP" : protocol == 17 ? "UDP" : "ICMP";
  char text[INET_ADDRSTRLEN];
  row[1] = inet_ntop(AF_INET, &buffer[12], text, sizeof text);
  row[3] = inet_ntop(AF_INET, &buffer[16], text, sizeof text);
  const std::size_t total = buffer[2] << 8 | buffer[3];
  row[5] = std::to_string(total);
  const std::size_t header = (buffer[0] & 0x0F) * 4u;
  if (total >= header && total < end) end = total;
  if (protocol == 1 || header < 20 || header > end) return row;
  std::size_t payload = end;
  if ((buffer[6] << 8 | buffer[7]) & 0x1FFF) {
    payload = header;
  } else if (end >= header + 4) {
    row[2] = std::to_string(buffer[header] << 8 | buffer[header + 1]);
    row[4] = std::to_string(buffer[header + 2] << 8 | buffer[header + 3]);
    if (protocol == 17 && header + 8 <= end) payload = header + 8;
    const std::size_t tcpHeader = end > header + 12 ? (buffer[header + 12] >> 4) * 4u : 0;
    if (protocol == 6 && tcpHeader >= 20 && header + tcpHeader <= end) payload = header + tcpHeader;
  }
  const char* begin = reinterpret_cast<const char*>(buffer.data()) + payload;
  row[6] = std::string(begin, strnlen(begin, end - payload));
  return row;
}

// Hands each row to the spool and counts them.
class CountingSpool final : public PacketTable {
 public:
  explicit CountingSpool(RowSpool& spool) : spool_(spool) {}
  void AddRow(const ListedRow& row) override {
    ++rows;
    spool_.AddRow(row);
  }
  int rows = 0;

 private:
  RowSpool& spool_;
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

// Each spooled row must give back the received bytes and the expected texts,
// and each text must display.
void CheckDialogRows(const RowSpool::Reader& list, std::size_t first, const std::uint8_t* data, std::size_t size) {
  const Row expected = ExpectedTexts(data, size);
  for (std::size_t row = first; row < list.RowCount(); ++row) {
    const RowSpool::StoredRow stored = list.Row(row);
    if (stored.datagram.size() != std::min<std::size_t>(size, kReceiveBufferSize) ||
        (size > 0 && std::memcmp(stored.datagram.data(), data, stored.datagram.size()) != 0)) {
      std::abort();
    }
    PacketRow texts;
    BuildPacketRow(ListedRowOf(stored.datagram, stored.captureTimeNs), texts);
    for (int column = 0; column < kPacketColumnCount; ++column) {
      const std::string_view text = texts.columns[column];
      if (text != expected[column]) std::abort();
      const QString shown = CellText(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
      if (shown.isEmpty() != text.empty() || !Displayable(shown)) std::abort();
    }
  }
}

RowSpool& Spool() {
  static const std::unique_ptr<RowSpool> spool = RowSpool::CreateInCacheDirectory();
  return *spool;
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
  RowSpool& spool = Spool();
  if (spool.Read().RowCount() > 100000) spool.Clear();  // fresh files each time would be slow
  const std::size_t before = spool.Read().RowCount();
  CountingSpool table(spool);
  // Small, so that datagrams from across the run fill it and fold.
  static ConversationTable conversations(64);
  static std::uint64_t datagrams = 0;
  const CaptureContext context{capturing, source,    counters, options,       table,
                               srcFilter, dstFilter, nullptr,  &conversations};
  CaptureThreadProc(context);
  ++datagrams;
  std::uint64_t inConversations = 0;
  conversations.ForEach([&](ConversationId, const Conversation& c) { inConversations += c.Packets(); });
  if (const auto folded = conversations.Read(kFoldedConversations)) inConversations += folded->Packets();
  if (inConversations != datagrams || conversations.Held() > 64) std::abort();  // each in exactly one

  int total = 0;
  for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
    total += counters.Count(TrafficGroup::All, static_cast<ProtocolClass>(protocol));
  }
  if (total != 1) std::abort();      // every datagram counts once in All
  if (table.rows > 1) std::abort();  // at most one row while the boxes stay still
  const RowSpool::Reader list = spool.Read();
  if (list.RowCount() != before + table.rows) std::abort();
  CheckDialogRows(list, before, data, size);
  return 0;
}
