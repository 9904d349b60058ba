#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capture/packet_decode.h"
#include "ui/keep_in_view.h"
#include "ui/packet_model.h"
#include "ui/payload_display.h"
#include "ui/row_queue.h"

namespace orvanel {
namespace {

using Row = std::array<std::string, kPacketColumnCount>;

// A plain table that keeps the texts exactly as given, newest first.
class RecordingTable final : public PacketTable {
 public:
  void InsertItem(int index, std::string_view text) override {
    rows.insert(rows.begin() + index, Row{});
    rows[index][0] = text;
  }
  void SetItemText(int item, int column, std::string_view text) override { rows[item][column] = text; }
  std::vector<Row> rows;
};

struct TestPacket {
  std::uint8_t protocol;
  std::array<std::uint8_t, 4> source, destination;
  std::uint16_t sourcePort, destinationPort, totalLength;
  std::string payload;
};

ReceiveBuffer MakeBuffer(const TestPacket& packet) {
  ReceiveBuffer buffer{};
  buffer[0] = 0x45;
  buffer[2] = packet.totalLength >> 8;
  buffer[3] = packet.totalLength & 0xFF;
  buffer[9] = packet.protocol;
  std::memcpy(&buffer[12], packet.source.data(), 4);
  std::memcpy(&buffer[16], packet.destination.data(), 4);
  buffer[20] = packet.sourcePort >> 8;
  buffer[21] = packet.sourcePort & 0xFF;
  buffer[22] = packet.destinationPort >> 8;
  buffer[23] = packet.destinationPort & 0xFF;
  const std::size_t offset = packet.protocol == kProtocolTCP ? 40 : 28;
  std::memcpy(&buffer[offset], packet.payload.data(), std::min(packet.payload.size(), buffer.size() - offset));
  return buffer;
}

void AddRow(const TestPacket& packet, PacketTable& table) {
  const ReceiveBuffer buffer = MakeBuffer(packet);
  const IpHeaderView view = DecodeHeader(buffer);
  const ProtocolClass protocol = ClassOfProtocol(packet.protocol);
  AddPacketRow(protocol, buffer, view, AddressText(view.SourceAddress()).View(),
               AddressText(view.DestinationAddress()).View(), table);
}

QString Cell(const PacketModel& model, int row, int column) { return model.index(row, column).data().toString(); }

QString Shown(const std::string& text) { return PayloadDisplayText(QByteArrayView(text.data(), qsizetype(text.size()))); }

void ExpectSameAsRecorded(const PacketModel& model, const RecordingTable& recorded) {
  ASSERT_EQ(model.rowCount(), static_cast<int>(recorded.rows.size()));
  for (int row = 0; row < model.rowCount(); ++row) {
    for (int column = 0; column < kPacketColumnCount; ++column) {
      EXPECT_EQ(Cell(model, row, column), Shown(recorded.rows[row][column])) << row << "," << column;
    }
  }
}

TEST(PacketTable, RowsFromTheLoopShowExactlyTheirTextsNewestFirst) {
  const std::string longPayload(2100, 'p');  // reaches the end of the buffer
  const std::vector<TestPacket> packets = {
      {kProtocolUDP, {127, 0, 0, 1}, {127, 0, 0, 1}, 5353, 80, 60, "hello"},
      {kProtocolTCP, {10, 0, 0, 15}, {192, 168, 1, 200}, 0xFFFF, 0x0050, 1500, "GET /\r\n\xc4\xe3"},
      {kProtocolICMP, {0, 0, 0, 0}, {255, 255, 255, 255}, 0x0800, 0, 84, "ignored"},
      {kProtocolUDP, {1, 2, 3, 4}, {5, 6, 7, 8}, 0, 0, 0, ""},  // empty payload column
      {kProtocolTCP, {8, 8, 4, 4}, {9, 9, 9, 9}, 1, 65535, 65535, longPayload},
  };
  RecordingTable recorded;
  RowQueue queue;
  PacketModel model;
  for (const TestPacket& packet : packets) {
    AddRow(packet, recorded);
    AddRow(packet, queue);
  }
  EXPECT_EQ(model.TakeRows(queue), packets.size());
  ExpectSameAsRecorded(model, recorded);
  EXPECT_EQ(Cell(model, 0, 0), QStringLiteral("TCP"));
  EXPECT_EQ(Cell(model, 0, 6).size(), 2048 - 40);
  EXPECT_EQ(Cell(model, 2, 2), QString());  // ICMP has no ports
  EXPECT_EQ(Cell(model, 3, 1), QStringLiteral("10.0.0.15"));
  EXPECT_EQ(Cell(model, 3, 2), QStringLiteral("65535"));
  EXPECT_EQ(Cell(model, 4, 6), QStringLiteral("hello"));
  EXPECT_EQ(model.headerData(6, Qt::Horizontal).toString(), QStringLiteral("数据包内容"));
}

TEST(PacketTable, TextsThatAreNotCanonicalAreKeptAsGiven) {
  RowQueue queue;
  PacketModel model;
  queue.InsertItem(0, "UDP");
  queue.SetItemText(0, 1, "010.0.0.1");  // leading zero: not what the formatter makes
  queue.SetItemText(0, 2, "007");
  queue.SetItemText(0, 3, "1.2.3");
  queue.SetItemText(0, 4, "65536");
  queue.SetItemText(0, 5, "-1");
  queue.SetItemText(1, 5, "other row");  // only the newest row is filled
  queue.SetItemText(0, 7, "no such column");
  queue.SetItemText(0, 6, std::string(5000, 'x'));  // completes the row
  queue.InsertItem(0, "GRE");                        // no known last column
  queue.SetItemText(0, 6, "tunnel");
  queue.InsertItem(3, "ignored");
  EXPECT_EQ(model.TakeRows(queue), 1u);
  queue.PublishPending();
  EXPECT_EQ(model.TakeRows(queue), 1u);
  ASSERT_EQ(model.rowCount(), 2);
  EXPECT_EQ(Cell(model, 0, 0), QStringLiteral("GRE"));
  EXPECT_EQ(Cell(model, 0, 6), QStringLiteral("tunnel"));
  const QStringList expected = {"UDP", "010.0.0.1", "007", "1.2.3", "65536", "-1"};
  for (int column = 0; column < expected.size(); ++column) EXPECT_EQ(Cell(model, 1, column), expected[column]);
  EXPECT_EQ(Cell(model, 1, 6), QString(int(kMaxColumnText), QLatin1Char('x')));
}

TEST(PacketTable, RowsCrossThreadsInOrderWhileTheConsumerDrains) {
  // Long payloads fill queue blocks by bytes, short ones by rows.
  constexpr int kRows = 20000;
  RowQueue queue;
  PacketModel model;
  std::thread producer([&queue] {
    for (int i = 0; i < kRows; ++i) {
      const std::string payload(i % 7 == 0 ? 1500 : 3, 'a' + i % 26);
      AddRow({kProtocolUDP, {10, 0, std::uint8_t(i >> 8), std::uint8_t(i)}, {127, 0, 0, 1}, std::uint16_t(i), 9,
              std::uint16_t(i), payload},
             queue);
    }
  });
  while (model.rowCount() < kRows) {
    model.TakeRows(queue);
    std::this_thread::yield();
  }
  producer.join();
  EXPECT_EQ(model.TakeRows(queue), 0u);
  for (int row = 0; row < kRows; row += 97) {
    const int sent = kRows - 1 - row;
    ASSERT_EQ(Cell(model, row, 2), QString::number(sent));
    ASSERT_EQ(Cell(model, row, 6).size(), sent % 7 == 0 ? 1500 : 3);
    ASSERT_EQ(Cell(model, row, 6)[0], QLatin1Char('a' + sent % 26));
  }
}

TEST(PacketTable, AMillionRowsStayCompactAndClearAtOnce) {
  constexpr int kRows = 1000000;
  const std::string payload = "0123456789abcdef";
  RowQueue queue;
  PacketModel model;
  for (int i = 0; i < kRows; ++i) {
    AddRow({kProtocolUDP, {192, 168, 0, std::uint8_t(i)}, {10, 1, 2, 3}, std::uint16_t(i), 53, 44, payload}, queue);
    if (i % 50000 == 0) model.TakeRows(queue);
  }
  model.TakeRows(queue);
  ASSERT_EQ(model.rowCount(), kRows);
  const double bytesPerRow = double(model.Store().AllocatedBytes()) / kRows;
  // 24-byte record, 2-byte length and the payload, plus chunk slack.
  EXPECT_LE(bytesPerRow, 64.0 + payload.size()) << bytesPerRow;
  EXPECT_EQ(Cell(model, 0, 2), QString::number((kRows - 1) & 0xFFFF));
  const auto start = std::chrono::steady_clock::now();
  model.Clear();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.Store().AllocatedBytes(), 0u);
  // A loose bound: the real figure comes from the benchmark.
  EXPECT_LT(elapsed, std::chrono::seconds(2));
}

TEST(PacketTable, RowsInViewStayInViewAwayFromTheTop) {
  RowQueue queue;
  PacketModel model;
  QTableView view;
  view.setModel(&model);
  view.resize(400, 300);
  KeepRowsInView(view);
  const auto add = [&](int first, int count) {
    for (int i = first; i < first + count; ++i) {
      AddRow({kProtocolUDP, {1, 1, 1, 1}, {2, 2, 2, 2}, std::uint16_t(i), 1, 28, ""}, queue);
    }
    model.TakeRows(queue);
    QCoreApplication::processEvents();
  };
  view.show();
  add(0, 1000);
  ASSERT_EQ(view.verticalScrollBar()->value(), 0);
  add(1000, 10);  // at the top: the newest stays in sight
  EXPECT_EQ(view.indexAt(QPoint(5, 5)).row(), 0);
  EXPECT_EQ(model.index(0, 2).data().toString(), QStringLiteral("1009"));
  view.scrollTo(model.index(500, 0), QAbstractItemView::PositionAtTop);
  QCoreApplication::processEvents();
  const QModelIndex top = view.indexAt(QPoint(5, 5));
  const QString topPort = model.index(top.row(), 2).data().toString();
  add(1010, 25);
  const QModelIndex after = view.indexAt(QPoint(5, 5));
  EXPECT_EQ(after.row(), top.row() + 25);
  EXPECT_EQ(model.index(after.row(), 2).data().toString(), topPort);
}

}  // namespace
}  // namespace orvanel
