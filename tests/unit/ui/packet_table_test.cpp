#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>
#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "capture/packet_row.h"
#include "capture/packet_source.h"
#include "session/row_match.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/test_files.h"
#include "ui/cell_delegate.h"
#include "ui/cell_text.h"
#include "ui/details_from_table.h"
#include "ui/details_texts.h"
#include "ui/expression_field.h"
#include "ui/find_window.h"
#include "ui/packet_details_window.h"
#include "ui/packet_list_view.h"
#include "ui/packet_model.h"
#include "ui/row_menu.h"

namespace orvanel {
namespace {

struct TestPacket {
  std::uint8_t protocol;
  std::array<std::uint8_t, 4> source, destination;
  std::uint16_t sourcePort, destinationPort, totalLength;
  std::string payload;
};

std::vector<std::uint8_t> MakeDatagram(const TestPacket& packet) {
  const std::size_t offset = packet.protocol == kProtocolTCP ? 40 : 28;
  std::vector<std::uint8_t> buffer(std::min(offset + packet.payload.size(), kReceiveBufferSize), 0);
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
  if (packet.protocol == kProtocolTCP) buffer[32] = 0x50;  // a 20-byte TCP header
  std::memcpy(&buffer[offset], packet.payload.data(), buffer.size() - offset);
  return buffer;
}

void AddRow(const TestPacket& packet, PacketTable& table) { table.AddRow(ListedRowOf(MakeDatagram(packet), 0)); }

// A spool of the test's own; the scratch directory goes with it.
struct TestSpool {
  test::ScratchDirectory scratch{"orvanel-table"};
  std::shared_ptr<RowSpool> spool = RowSpool::Create((scratch.path() / "spool").string());
};

QString Cell(const PacketModel& model, int row, int column) { return model.index(row, column).data().toString(); }

// A window over the whole of a short list.
void ShowAll(PacketModel& model) { model.SetWindow(model.ShownRows() - 1, int(model.ShownRows())); }

QString Shown(const std::string& text) { return CellText(QByteArrayView(text.data(), qsizetype(text.size()))); }

TEST(PacketTable, RowsFromTheLoopShowExactlyTheirTextsNewestFirst) {
  const std::string longPayload(2100, 'p');  // reaches the end of the buffer
  const std::vector<TestPacket> packets = {
      {kProtocolUDP, {127, 0, 0, 1}, {127, 0, 0, 1}, 5353, 80, 60, "hello"},
      {kProtocolTCP, {10, 0, 0, 15}, {192, 168, 1, 200}, 0xFFFF, 0x0050, 1500, "GET /\r\n\xc4\xe3"},
      {kProtocolICMP, {0, 0, 0, 0}, {255, 255, 255, 255}, 0x0800, 0, 84, "ignored"},
      {kProtocolUDP, {1, 2, 3, 4}, {5, 6, 7, 8}, 0, 0, 0, ""},  // empty payload column
      {kProtocolTCP, {8, 8, 4, 4}, {9, 9, 9, 9}, 1, 65535, 65535, longPayload},
  };
  TestSpool spool;
  ASSERT_TRUE(spool.spool);
  PacketModel model(spool.spool);
  for (const TestPacket& packet : packets) AddRow(packet, *spool.spool);
  EXPECT_EQ(model.TakeRows(), packets.size());
  EXPECT_EQ(model.TakeRows(), 0u);
  ShowAll(model);
  const QStringList udp = {"UDP", "127.0.0.1", "5353", "127.0.0.1", "80", "60", "hello"};
  const QStringList tcp = {"TCP", "10.0.0.15", "65535", "192.168.1.200", "80", "1500", Shown("GET /\r\n\xc4\xe3")};
  const QStringList icmp = {"ICMP", "0.0.0.0", "", "255.255.255.255", "", "84", ""};
  for (int column = 0; column < kPacketColumnCount; ++column) {
    EXPECT_EQ(Cell(model, 4, column), udp[column]) << column;
    EXPECT_EQ(Cell(model, 3, column), tcp[column]) << column;
    EXPECT_EQ(Cell(model, 2, column), icmp[column]) << column;
  }
  EXPECT_EQ(Cell(model, 1, 6), QString());  // empty payload
  EXPECT_EQ(Cell(model, 0, 0), QStringLiteral("TCP"));
  EXPECT_EQ(Cell(model, 0, 6).size(), 2048 - 40);
  EXPECT_EQ(Cell(model, 2, 2), QString());  // ICMP has no ports
  EXPECT_EQ(Cell(model, 3, 1), QStringLiteral("10.0.0.15"));
  EXPECT_EQ(Cell(model, 3, 2), QStringLiteral("65535"));
  EXPECT_EQ(Cell(model, 4, 6), QStringLiteral("hello"));
  EXPECT_EQ(model.headerData(6, Qt::Horizontal).toString(), QStringLiteral("数据包内容"));
}

TEST(PacketTable, ClearEmptiesTheTableAtOnceWhileRowsGoOnArriving) {
  TestSpool spool;
  ASSERT_TRUE(spool.spool);
  PacketModel model(spool.spool);
  for (int i = 0; i < 1000; ++i)
    AddRow({kProtocolUDP, {1, 1, 1, 1}, {2, 2, 2, 2}, std::uint16_t(i), 1, 28, ""}, *spool.spool);
  model.TakeRows();
  model.SetWindow(999, 20);
  ASSERT_EQ(model.ShownRows(), 1000u);
  ASSERT_EQ(model.rowCount(), 20);
  // Lines whose texts change are drawn again, and only they.
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  model.SetWindow(998, 20);  // every line shows another port, and another number
  ASSERT_EQ(changed.size(), 2);
  EXPECT_EQ(changed[0][0].toModelIndex().row(), 0);
  EXPECT_EQ(changed[0][1].toModelIndex().row(), 19);
  model.Clear();
  EXPECT_EQ(model.ShownRows(), 0u);
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.TakeRows(), 0u);  // the old rows never come back
  AddRow({kProtocolUDP, {1, 1, 1, 1}, {2, 2, 2, 2}, 4242, 1, 28, ""}, *spool.spool);
  EXPECT_EQ(model.TakeRows(), 1u);
  ShowAll(model);
  EXPECT_EQ(Cell(model, 0, 2), QStringLiteral("4242"));
  // A flood of alike rows under a different one: only the top line changes.
  for (int i = 0; i < 30; ++i) AddRow({kProtocolUDP, {1, 1, 1, 1}, {2, 2, 2, 2}, 7, 1, 28, ""}, *spool.spool);
  model.TakeRows();
  model.SetWindow(model.ShownRows() - 1, 20);
  AddRow({kProtocolUDP, {1, 1, 1, 1}, {2, 2, 2, 2}, 7, 1, 28, ""}, *spool.spool);
  AddRow({kProtocolUDP, {1, 1, 1, 1}, {2, 2, 2, 2}, 8, 1, 28, ""}, *spool.spool);
  model.TakeRows();
  changed.clear();
  model.SetWindow(model.ShownRows() - 1, 20);
  // The numbers of every line change, in the list's own columns alone.
  ASSERT_EQ(changed.size(), 2);
  EXPECT_EQ(changed[0][0].toModelIndex().row(), 0);
  EXPECT_EQ(changed[0][1].toModelIndex().row(), 0);
  EXPECT_EQ(changed[0][1].toModelIndex().column(), kPacketColumnCount - 1);
  EXPECT_EQ(changed[1][0].toModelIndex().column(), PacketModel::kNumberColumn);
  EXPECT_EQ(changed[1][1].toModelIndex().row(), 19);
  EXPECT_EQ(Cell(model, 0, 2), QStringLiteral("8"));
  EXPECT_EQ(Cell(model, 1, 2), QStringLiteral("7"));
}

// The port column of the rows on screen, top to bottom.
QStringList PortsOnScreen(const PacketListView& view) {
  QStringList ports;
  for (int row = 0; row < view.model()->rowCount(); ++row) ports << view.model()->index(row, 2).data().toString();
  return ports;
}

TEST(PacketTable, AMillionRowsLeaveNoStatePerRowAndRowsOnScreenStayPut) {
  TestSpool spool;
  ASSERT_TRUE(spool.spool);
  PacketModel model(spool.spool);
  PacketListView view;
  view.SetPackets(model);
  view.resize(400, 300);
  const auto add = [&](int first, int count) {
    for (int i = first; i < first + count; ++i) {
      AddRow({kProtocolUDP, {1, 1, 1, 1}, {2, 2, 2, 2}, std::uint16_t(i), std::uint16_t(i >> 16), 28, ""},
             *spool.spool);
    }
    model.TakeRows();
    QCoreApplication::processEvents();
  };
  const auto port = [](int i) { return QString::number(std::uint16_t(i)); };
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  add(0, 1'000'000);
  // Only the rows that fit on screen are the view's and the model's.
  const int fit = view.viewport()->height() / view.verticalHeader()->defaultSectionSize() + 1;
  EXPECT_LE(model.rowCount(), fit);
  EXPECT_LE(view.verticalHeader()->count(), fit);
  EXPECT_EQ(view.Rows(), 1'000'000u);
  EXPECT_EQ(PortsOnScreen(view).front(), port(999'999));  // the newest on top

  add(1'000'000, 10);  // at the top: the newest stays in sight
  EXPECT_EQ(PortsOnScreen(view).front(), port(1'000'009));
  view.ShowOldest();
  EXPECT_EQ(PortsOnScreen(view).last(), port(0));
  EXPECT_EQ(view.RowScrollBar().value(), view.RowScrollBar().maximum());
  view.RowScrollBar().setValue(view.RowScrollBar().maximum() / 2);
  const QStringList middle = PortsOnScreen(view);
  add(1'000'010, 25);  // away from the top the rows on screen stay where they are
  EXPECT_EQ(PortsOnScreen(view), middle);

  // The keyboard walks the whole list, and the selection is kept by row, not by place on screen.
  view.setFocus();
  QTest::keyClick(&view, Qt::Key_Home);
  EXPECT_EQ(view.CurrentRow(), 1'000'034u);
  EXPECT_EQ(PortsOnScreen(view).front(), port(1'000'034));
  EXPECT_TRUE(view.selectionModel()->isRowSelected(0, {}));
  QTest::keyClick(&view, Qt::Key_Down);
  QTest::keyClick(&view, Qt::Key_PageDown, Qt::ShiftModifier);
  const std::uint64_t page = std::uint64_t(view.viewport()->height() / view.verticalHeader()->defaultSectionSize() - 1);
  ASSERT_TRUE(view.Selected());
  EXPECT_EQ(view.Selected()->last, 1'000'033u);
  EXPECT_EQ(view.Selected()->first, 1'000'033u - page);
  QTest::keyClick(&view, Qt::Key_End);
  EXPECT_EQ(view.CurrentRow(), 0u);
  EXPECT_EQ(PortsOnScreen(view).last(), port(0));
  EXPECT_TRUE(view.selectionModel()->isRowSelected(model.rowCount() - 1, {}));
  add(1'000'035, 5);
  EXPECT_EQ(view.CurrentRow(), 0u);
  EXPECT_TRUE(view.selectionModel()->isRowSelected(model.rowCount() - 1, {}));
  view.ShowNewest();
  EXPECT_FALSE(view.selectionModel()->hasSelection());  // the selected row is off screen
  EXPECT_EQ(view.CurrentRow(), 0u);

  // Ctrl+A: every row, one range; a copy takes the newest kCopyRows and says so.
  QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(view.SelectedRows().Ranges().size(), 1u);
  EXPECT_EQ(view.SelectedRows().Rows(), view.Rows());
  EXPECT_TRUE(view.selectionModel()->isRowSelected(0, {}));
  QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
  const QString copied = QGuiApplication::clipboard()->text();
  EXPECT_EQ(copied.count(QLatin1Char('\n')), qsizetype(PacketListView::kCopyRows));
  EXPECT_TRUE(copied.startsWith(QStringLiteral("UDP\t1.1.1.1\t%1\t").arg(port(1'000'039))));
  EXPECT_EQ(QToolTip::text(), QStringLiteral("只复制了前 100000 行（共选中 1000040 行）"));

  // A cell read as a screen reader reads it.
  QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&view);
  ASSERT_TRUE(table && table->tableInterface());
  QAccessibleInterface* cell = table->tableInterface()->cellAt(1, 2);
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->text(QAccessible::Name), port(1'000'038));

  model.Clear();
  EXPECT_EQ(view.Rows(), 0u);
  EXPECT_FALSE(view.CurrentRow());
}

TEST(PacketTable, AFilterListsMatchesLiveAndOffAgainKeepsTheSelectedRowInView) {
  TestSpool spool;
  ASSERT_TRUE(spool.spool);
  PacketModel model(spool.spool);
  PacketListView view;
  view.SetPackets(model);
  view.resize(400, 300);
  view.show();
  // Even rows are DNS queries from port i, odd ones TCP.
  const auto add = [&](int first, int count) {
    for (int i = first; i < first + count; ++i) {
      const bool dns = i % 2 == 0;
      AddRow({dns ? kProtocolUDP : kProtocolTCP,
              {1, 1, 1, 1},
              {2, 2, 2, 2},
              std::uint16_t(i),
              std::uint16_t(dns ? 53 : 80),
              std::uint16_t(dns ? 31 : 41),
              dns ? "q\t\xff" : "t"},
             *spool.spool);
    }
    model.TakeRows();
  };
  const auto settled = [&](std::uint64_t rows) {
    return QTest::qWaitFor([&] { return model.TakeRows(), model.ShownRows() == rows; }, 5000);
  };
  add(0, 1000);
  std::string error;
  ASSERT_TRUE(view.ShowOnly(RowMatcher::ForExpression("udp and dst port 53", error)));
  ASSERT_TRUE(settled(500));
  EXPECT_EQ(PortsOnScreen(view).front(), QStringLiteral("998"));
  add(1000, 10);  // matches arrive at the top as they come
  ASSERT_TRUE(settled(505));
  EXPECT_EQ(PortsOnScreen(view).mid(0, 2), QStringList({"1008", "1006"}));
  EXPECT_EQ(view.model()->index(0, PacketModel::kNumberColumn).data().toString(), QStringLiteral("1009"));

  // Ctrl+C: the selected rows as the cli prints them, in the order shown.
  view.SelectOrdinal(300);  // row 600
  view.setFocus();
  QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
  const QString line = QStringLiteral("UDP\t1.1.1.1\t%1\t2.2.2.2\t53\t31\tq\\x09\\xff\n");
  EXPECT_EQ(view.SelectedRowsText(), line.arg(600) + line.arg(598));
  QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), line.arg(600) + line.arg(598));
  // Ctrl+click adds a row beside them, and takes one out of their run again.
  const auto ctrlClick = [&](int windowRow) {
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ControlModifier,
                      view.visualRect(model.index(windowRow, 0)).center());
  };
  const int row600 = model.WindowRowOf(300);
  ASSERT_GE(row600, 2);
  ctrlClick(row600 - 2);  // row 604
  EXPECT_EQ(view.SelectedRowsText(), line.arg(604) + line.arg(600) + line.arg(598));
  ctrlClick(row600);
  EXPECT_EQ(view.SelectedRowsText(), line.arg(604) + line.arg(598));
  EXPECT_EQ(view.SelectedRows().Ranges().size(), 2u);
  EXPECT_FALSE(view.selectionModel()->isRowSelected(row600, {}));
  EXPECT_TRUE(view.selectionModel()->isRowSelected(row600 - 2, {}));
  ctrlClick(row600);  // and back
  QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), line.arg(604) + line.arg(600) + line.arg(598));

  // Off again: every row, the selection still on rows 598..600 and 604, and in view.
  ASSERT_TRUE(view.ShowOnly(nullptr));
  EXPECT_EQ(view.Rows(), 1010u);
  ASSERT_TRUE(view.Selected());
  EXPECT_EQ(view.Selected()->first, 598u);
  EXPECT_EQ(view.Selected()->last, 604u);
  QStringList selectedPorts;
  for (const QModelIndex& index : view.selectionModel()->selectedRows(2)) selectedPorts << index.data().toString();
  EXPECT_TRUE(selectedPorts.contains("600") && selectedPorts.contains("604"));  // the last clicked, in view
  for (std::uint64_t row = 597; row <= 605; ++row) {
    EXPECT_EQ(view.IsSelected(row), (row >= 598 && row <= 600) || row == 604) << row;
  }

  // Matches the filter's index cannot take (past the file size limit, as on
  // a full disk) are counted in the find window.
  FindWindow find(view, nullptr);
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit small{.rlim_cur = 4096, .rlim_max = limit.rlim_max};
  const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  find.What().setText(QStringLiteral("udp"));
  find.OnlyMatching().setChecked(true);
  const QString full = QStringLiteral("匹配 0 行，共 1010 行（另有 505 行匹配因空间不足未能列出）");
  const bool shown = QTest::qWaitFor([&] { return find.Status().text() == full; }, 5000);
  setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, oldSignal);
  EXPECT_TRUE(shown) << find.Status().text().toStdString();
}

// A bad expression with "只显示匹配的行" on lists every row again and says
// libpcap's reason; presses of F3 while a search runs each move one match on.
TEST(PacketTable, TheFindWindowListsWhatItsBoxSaysAndTakesEveryPress) {
  TestSpool spool;
  ASSERT_TRUE(spool.spool);
  PacketModel model(spool.spool);
  PacketListView view;
  view.SetPackets(model);
  view.resize(400, 300);
  view.show();
  for (int i = 0; i < 100; ++i) {
    AddRow({i % 2 ? kProtocolTCP : kProtocolUDP, {1, 1, 1, 1}, {2, 2, 2, 2}, std::uint16_t(i), 53, 40, "p"},
           *spool.spool);
  }
  model.TakeRows();
  QSettings(QStringLiteral("Orvanel"), QStringLiteral("orvanel")).remove(QStringLiteral("find"));
  view.move(0, 0);
  FindWindow find(view, nullptr);
  find.Open();
  EXPECT_FALSE(find.frameGeometry().intersects(view.frameGeometry()));  // beside the list, where there is room
  find.What().setText(QStringLiteral("udp"));
  find.OnlyMatching().setChecked(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return find.Status().text() == QStringLiteral("匹配 50 行，共 100 行"); }, 5000));
  QTest::keyClicks(&find.What(), QStringLiteral(" and foo"));  // typed, as a user changes it
  // Red as it is typed, with libpcap's reason.
  const auto base = [&] { return find.What().palette().color(QPalette::Base); };
  EXPECT_TRUE(QTest::qWaitFor([&] { return base() == QColor(0xff, 0xaf, 0xaf); }, 5000));
  EXPECT_EQ(find.What().toolTip(), QStringLiteral("syntax error in filter expression"));
  QTest::keyClick(&find.What(), Qt::Key_Return);
  EXPECT_FALSE(find.OnlyMatching().isChecked());
  EXPECT_EQ(view.Rows(), 100u);
  EXPECT_FALSE(model.Filter());
  const QString reason = find.Status().text();
  EXPECT_EQ(reason, QStringLiteral("syntax error in filter expression"));  // libpcap's own
  find.Status().clear();
  find.OnlyMatching().click();
  EXPECT_FALSE(find.OnlyMatching().isChecked());
  EXPECT_EQ(find.Status().text(), reason);
  EXPECT_EQ(view.Rows(), 100u);

  find.What().clear();
  QTest::keyClicks(&find.What(), QStringLiteral("udp"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return base() == QColor(0xaf, 0xff, 0xaf); }, 5000));
  EXPECT_EQ(find.What().toolTip(), QString());
  view.SelectOrdinal(99);  // the newest row, a TCP one
  // The search is taken up at the window's next poll: the later presses find it running.
  for (int press = 0; press < 3; ++press) find.FindNext(false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !find.Searching(); }, 5000));
  ASSERT_TRUE(view.Selected());
  EXPECT_EQ(view.Selected()->first, 94u);  // 98, 96, then 94
  find.FindNext(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !find.Searching(); }, 5000));
  EXPECT_EQ(view.Selected()->first, 96u);

  // The expressions used come first in a drop-down, the last 20, in the next run too.
  for (int port = 0; port < 25; ++port) {
    find.What().setText(QStringLiteral("udp port %1").arg(port));
    find.FindNext(false);
  }
  find.What().setText(QStringLiteral("udp"));
  find.FindNext(false);
  FindWindow next(view, nullptr);
  ASSERT_EQ(next.Field().count(), 20);
  EXPECT_EQ(next.Field().itemText(0), QStringLiteral("udp"));
  EXPECT_EQ(next.Field().itemText(1), QStringLiteral("udp port 24"));
  EXPECT_EQ(next.Field().itemText(19), QStringLiteral("udp port 6"));

  // No side has room: over the end of the list away from the selected row.
  find.hide();
  view.resize(view.screen()->availableGeometry().size());
  view.move(view.screen()->availableGeometry().topLeft());
  view.SelectOrdinal(98);
  find.Open();
  const QRect row(view.viewport()->mapToGlobal(view.visualRect(model.index(model.WindowRowOf(98), 0)).topLeft()),
                  view.visualRect(model.index(model.WindowRowOf(98), 0)).size());
  EXPECT_FALSE(find.frameGeometry().intersects(row));
}

// The menu a right-click on a cell of the window's row brings up.
QMenu* RowMenuOf(PacketListView& view, int row, int column) {
  const QPoint at = view.visualRect(view.model()->index(row, column)).center();
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, view.viewport()->mapToGlobal(at));
  QApplication::sendEvent(view.viewport(), &event);
  return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

QAction* Entry(QMenu& menu, const QString& text) {
  for (QAction* action : menu.actions()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

// A right-click on a row selects it and offers the row's own menu;
// "作为过滤器应用" lists only the rows that share the clicked cell's value.
TEST(PacketTable, ARowsMenuAppliesTheClickedCellAsAFilter) {
  TestSpool spool;
  ASSERT_TRUE(spool.spool);
  PacketModel model(spool.spool);
  PacketListView view;
  view.SetPackets(model);
  view.resize(600, 300);
  view.show();
  const std::uint8_t protocols[] = {kProtocolTCP, kProtocolUDP, kProtocolICMP};
  // Captured a second and a microsecond apart from 2023-11-14 22:13:20 UTC.
  constexpr std::int64_t kFirstTime = 1'700'000'000'000'000'000;
  for (int i = 0; i < 60; ++i) {
    const auto bytes = MakeDatagram({protocols[i % 3],
                                     {10, 0, 0, std::uint8_t(i % 4)},
                                     {2, 2, 2, 2},
                                     std::uint16_t(1000 + i % 5),
                                     53,
                                     std::uint16_t(40 + i % 2),
                                     "p"});
    spool.spool->AddRow(ListedRowOf(bytes, kFirstTime + i * std::int64_t{1'000'001'000}));
  }
  model.TakeRows();
  // The optional columns: the row's number from 1 and its capture time, local to the microsecond.
  const QByteArray zone = qgetenv("TZ");
  qputenv("TZ", "UTC");
  tzset();
  ShowAll(model);
  EXPECT_EQ(Cell(model, 1, PacketModel::kNumberColumn), QStringLiteral("59"));
  EXPECT_EQ(Cell(model, 1, PacketModel::kTimeColumn), QStringLiteral("2023-11-14 22:14:18.000058"));
  qputenv("TZ", zone);
  if (zone.isNull()) qunsetenv("TZ");
  tzset();
  FindWindow find(view, nullptr);
  AddRowMenu(view, [&]() -> FindWindow& { return find; });

  view.SelectOrdinal(59);
  QMenu* menu = RowMenuOf(view, 1, 1);  // ordinal 58, a UDP row
  ASSERT_TRUE(menu);
  QStringList entries;
  for (QAction* action : menu->actions()) entries << action->text();
  EXPECT_EQ(entries, QStringList({"复制(&C)", "数据包详情(&D)", "作为过滤器应用(&A)", "查找(&F)..."}));
  EXPECT_EQ(view.Selected()->first, 58u);
  EXPECT_EQ(view.Selected()->last, 58u);
  Entry(*menu, QStringLiteral("复制(&C)"))->trigger();
  menu->close();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("UDP\t10.0.0.2\t1003\t2.2.2.2\t53\t40\tp\n"));
  menu = RowMenuOf(view, 0, 2);  // ICMP: no port to filter by
  ASSERT_TRUE(menu);
  EXPECT_FALSE(Entry(*menu, QStringLiteral("作为过滤器应用(&A)"))->isEnabled());
  menu->close();

  const struct {
    int column;
    QString expression;
    std::uint64_t rows;
  } cells[] = {{1, "host 10.0.0.2", 15}, {2, "port 1003", 8}, {0, "udp", 20}, {5, "len == 40", 30}};
  for (const auto& cell : cells) {
    view.ShowNewest();
    menu = RowMenuOf(view, 1, cell.column);
    ASSERT_TRUE(menu);
    const QString value = view.model()->index(1, cell.column).data().toString();
    Entry(*menu, QStringLiteral("作为过滤器应用(&A)"))->trigger();
    menu->close();
    EXPECT_EQ(find.What().text(), cell.expression);
    EXPECT_TRUE(find.OnlyMatching().isChecked());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.TakeRows(), view.Rows() == cell.rows; }, 5000))
        << cell.expression.toStdString() << ": " << view.Rows();
    // The clicked row stays selected, once the filter has looked that far.
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.TakeRows(), view.Selected().has_value(); }, 5000));
    EXPECT_EQ(model.SpoolIndex(view.Selected()->first), 58u);
    EXPECT_EQ(view.Selected()->first, view.Selected()->last);
    ShowAll(model);
    for (int row = 0; row < model.rowCount(); ++row) EXPECT_EQ(Cell(model, row, cell.column), value) << row;
    find.OnlyMatching().setChecked(false);
    EXPECT_EQ(view.Rows(), 60u);
  }
}

// A datagram's details as the window words them: "title", then "label=value"
// with a trailing " !" on faults, options indented below their field.
std::vector<std::string> DetailLines(const std::vector<std::uint8_t>& datagram) {
  std::vector<std::string> lines;
  for (const LayerText& layer : DetailTexts(DescribeDatagram(datagram))) {
    lines.push_back(layer.title);
    for (const FieldText& field : layer.fields) {
      lines.push_back(field.label + "=" + field.value + (field.fault ? " !" : ""));
      for (const FieldText& part : field.parts) {
        lines.push_back("  " + part.label + "=" + part.value + (part.fault ? " !" : ""));
      }
    }
  }
  return lines;
}

TEST(PacketTable, DetailsReadInChineseWithEveryFaultSaid) {
  test::Datagram tcp{.protocol = kProtocolTCP,
                     .source = "192.0.2.1",
                     .destination = "198.51.100.7",
                     .sourcePort = 51000,
                     .destinationPort = 443,
                     // Record route (two addresses, pointer at the second), router alert, no-op, end of list.
                     .ipOptions = {7, 11, 8, 10, 0, 0, 1, 10, 0, 0, 2, 148, 4, 0, 0, 1, 0, 0, 0, 0},
                     // MSS 1460, no-op, window scale 7, SACK permitted, timestamps, end of list.
                     .tcpOptions = {2, 4, 5, 180, 1, 3, 3, 7, 4, 2, 8, 10, 0, 0, 0, 5, 0, 0, 0, 9, 0, 0, 0, 0},
                     .payload = "hi"};
  std::vector<std::uint8_t> bytes = tcp.Bytes();
  bytes[1] = 0xB9, bytes[4] = 0x1C, bytes[5] = 0x46, bytes[6] = 0x40;   // DSCP 46 ECN 1, identification, DF
  bytes[44] = 0x12, bytes[47] = 0x78, bytes[51] = 1, bytes[53] = 0x52;  // sequence, acknowledgement, flags
  bytes[54] = 0xFA, bytes[55] = 0xF0;                                   // window 64240
  bytes[56] = 0x0C, bytes[57] = 0x99;                                   // checksum
  test::SetHeaderChecksum(bytes);
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "0x%02x%02x", bytes[10], bytes[11]);
  EXPECT_EQ(DetailLines(bytes), (std::vector<std::string>{"IPv4 首部",
                                                          "版本=4",
                                                          "首部长度=40 字节",
                                                          "服务类型=0xb9（DSCP 46，ECN 1）",
                                                          "总长度=86 字节",
                                                          "标识=0x1c46（7238）",
                                                          "标志=0x2（DF 不分片）",
                                                          "片偏移=0",
                                                          "生存时间=64",
                                                          "协议=6（TCP）",
                                                          std::string("首部校验和=") + checksum + "（正确）",
                                                          "源地址=192.0.2.1",
                                                          "目的地址=198.51.100.7",
                                                          "选项=20 字节",
                                                          "  记录路由=类型 7，长度 11：指针 8，地址 10.0.0.1, 10.0.0.2",
                                                          "  路由器告警=类型 148，长度 4：值 0",
                                                          "  无操作=类型 1",
                                                          "  选项表结束=类型 0",
                                                          "TCP 首部",
                                                          "源端口=51000",
                                                          "目的端口=443",
                                                          "序号=301990008",
                                                          "确认号=1",
                                                          "数据偏移=44 字节",
                                                          "标志=0x52（SYN，ACK，ECE）",
                                                          "窗口=64240",
                                                          "校验和=0x0c99（正确）",
                                                          "紧急指针=0",
                                                          "选项=24 字节",
                                                          "  最大报文段长度=类型 2，长度 4：1460",
                                                          "  无操作=类型 1",
                                                          "  窗口扩大=类型 3，长度 3：移位 7",
                                                          "  允许选择确认=类型 4，长度 2",
                                                          "  时间戳=类型 8，长度 10：TSval 5，TSecr 9",
                                                          "  选项表结束=类型 0",
                                                          "数据",
                                                          "长度=2 字节"}));

  // Each fault in its words, and what a cut or broken datagram shows instead of a value.
  const auto changed = [](std::vector<std::uint8_t> bytes, std::size_t at, std::uint8_t value) {
    bytes[at] = value;
    return bytes;
  };
  const auto cut = [](std::vector<std::uint8_t> bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
  };
  const std::vector<std::uint8_t> udp = test::Datagram{.protocol = kProtocolUDP, .payload = "abcdefgh"}.Bytes();
  const std::vector<std::uint8_t> cutOptions =
      cut(test::Datagram{.protocol = kProtocolUDP, .ipOptions = {1, 7, 11, 4, 10, 0, 0, 1, 0, 0, 0, 0}}.Bytes(), 27);
  const std::vector<std::uint8_t> plain = test::Datagram{.protocol = kProtocolTCP, .payload = "data"}.Bytes();
  const std::vector<std::pair<std::vector<std::uint8_t>, std::string>> cases = {
      {cut(udp, 13), "首部长度=20 字节（只收到 13 字节） !"},
      {cut(udp, 13), "总长度=36 字节（只收到 13 字节，23 字节缺失） !"},
      {cut(udp, 13), "源地址=缺失 !"},
      {cut(udp, 31), "长度=8 字节（只收到 3 字节，其余缺失） !"},
      {cut(udp, 31), "校验和=0x0000（未使用）"},
      {cutOptions, "选项=12 字节（5 字节缺失） !"},
      {cutOptions, "  记录路由=类型 7，长度 11（5 字节缺失） !"},
      {changed(cutOptions, 22, 1), "  记录路由=类型 7，长度 1（小于 2，无效） !"},
      {cut(cutOptions, 22), "  记录路由=类型 7，长度缺失 !"},
      {changed(plain, 0, 0x44), "首部长度=16 字节（小于 20，无效） !"},
      {changed(plain, 0, 0x44), "说明=首部长度无效，其后的内容无法定位 !"},
      {changed(plain, 0, 0x65), "版本=6（不是 4） !"},
      {changed(plain, 3, 12), "总长度=12 字节（小于首部长度） !"},
      {changed(changed(plain, 6, 0xA0), 7, 0xB9), "标志=0x5（保留位，MF 更多分片） !"},
      {changed(changed(plain, 6, 0xA0), 7, 0xB9), "片偏移=185（1480 字节）"},
      {changed(changed(plain, 6, 0xA0), 7, 0xB9), "说明=片偏移不为 0，不含 TCP 首部"},
      {changed(plain, 32, 0xF0), "数据偏移=60 字节（只收到 24 字节） !"},
      {changed(udp, 25, 12), "长度=12 字节（IP 载荷为 16 字节） !"},
      {changed(plain, 10, 1), "首部校验和=0x0100（错误，应为 0x66ca） !"},
      {plain, "校验和=0x0000（错误，应为 0xbdf9） !"},
      {test::Datagram{.protocol = 47}.Bytes(), "载荷（GRE）"},
  };
  for (const auto& [datagram, line] : cases) {
    const std::vector<std::string> lines = DetailLines(datagram);
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  }

  // ICMP types and codes by name, unknown ones said so, and the datagram an error quotes.
  EXPECT_EQ(IcmpTypeName(18), "地址掩码应答");
  EXPECT_EQ(IcmpTypeName(19), "未知类型");
  EXPECT_EQ(IcmpCodeName(3, 15), "优先级被截止");
  EXPECT_EQ(IcmpCodeName(3, 16), "未知代码");
  EXPECT_EQ(IcmpCodeName(8, 0), "");
  EXPECT_EQ(IcmpCodeName(8, 1), "未知代码");
  std::vector<std::uint8_t> needFrag =
      test::Datagram{.protocol = kProtocolICMP, .payload = std::string(20, 'q')}.Bytes();
  needFrag[20] = 3, needFrag[21] = 4;
  const std::vector<std::string> lines = DetailLines(cut(needFrag, 40));
  for (const char* line : {"类型=3（目标不可达）", "代码=4（需要分片但设置了不分片）", "原始数据报 · IPv4 首部"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  }
  // An MPLS label stack in an extension structure after the quoted datagram, padded to 128 bytes.
  std::vector<std::uint8_t> extended = cut(needFrag, 48);
  extended.resize(20 + 8 + 128);
  extended[25] = 32;
  for (const std::uint8_t byte : {0x20, 0x00, 0xCA, 0x0D, 0x00, 0x08, 0x01, 0x01, 0x03, 0xE8, 0x11, 0x01}) {
    extended.push_back(byte);
  }
  extended[2] = 0, extended[3] = std::uint8_t(extended.size());
  const std::vector<std::string> extendedLines = DetailLines(extended);
  for (const char* line : {"原始数据报长度=128 字节", "ICMP 扩展结构", "版本=2", "校验和=0xca0d（正确）", "对象=8 字节",
                           "  MPLS 标签栈=类 1，长度 8 字节，类型 1：标签 16001，TC 0，S 1，TTL 1"}) {
    EXPECT_NE(std::find(extendedLines.begin(), extendedLines.end(), line), extendedLines.end()) << line;
  }
}

// Every line of a details window's tree as "label=value".
QStringList TreeLines(const PacketDetailsWindow& window) {
  QStringList lines;
  for (QTreeWidgetItemIterator item(window.Fields()); *item; ++item) lines << (*item)->text(0) + "=" + (*item)->text(1);
  return lines;
}

// The list's own delegate draws each cell as Qt's does, pixel for pixel:
// texts that fit and elided ones, CJK and symbols, a selected row and the
// current cell with the focus, first drawn and then again from its cache.
TEST(PacketTable, CellsLookAsQtDrawsThem) {
  const QStringList texts = {QStringLiteral("UDP"),
                             QStringLiteral("192.168.100.200"),
                             QStringLiteral("65535"),
                             QString(64, 'x'),
                             QStringLiteral("GET / HTTP/1.1␍␊Host: 例子.测试␀␁"),
                             QStringLiteral("数据包内容数据包内容数据包内容数据包内容"),
                             QStringLiteral("�\u00e9\u00e9\u0301"),
                             QString()};
  QStandardItemModel model(4, 4);
  for (int row = 0; row < model.rowCount(); ++row) {
    for (int column = 0; column < model.columnCount(); ++column) {
      model.setItem(row, column, new QStandardItem(texts[(row * 3 + column) % texts.size()]));
    }
  }
  QTableView view;
  view.setModel(&model);
  view.setWordWrap(false);
  view.setSelectionBehavior(QAbstractItemView::SelectRows);
  for (const int column : {0, 1, 2, 3}) view.setColumnWidth(column, 40 + 45 * column);
  view.resize(420, 200);
  view.show();
  view.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
  view.setFocus();
  view.selectRow(1);
  view.selectionModel()->setCurrentIndex(model.index(2, 2), QItemSelectionModel::NoUpdate);
  const auto drawn = [&view](QAbstractItemDelegate& delegate) {
    view.setItemDelegate(&delegate);
    return view.viewport()->grab().toImage();
  };
  QStyledItemDelegate qt;
  CellDelegate ours;
  const QImage expected = drawn(qt);
  EXPECT_EQ(drawn(ours), expected);
  EXPECT_EQ(drawn(ours), expected);
  view.setItemDelegate(nullptr);
}

TEST(PacketTable, DoubleClickOrEnterOnASelectedRowOpensItsDetailsFromACopy) {
  TestSpool spool;
  ASSERT_TRUE(spool.spool);
  PacketModel model(spool.spool);
  QWidget dialog;
  auto* view = new PacketListView(&dialog);
  view->SetPackets(model);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->resize(600, 300);
  OpenDetailsFromTable(*view);
  AddRow({kProtocolTCP, {10, 0, 0, 1}, {10, 0, 0, 2}, 1111, 80, 44, "tcp!"}, *spool.spool);
  AddRow({kProtocolUDP, {10, 0, 0, 3}, {10, 0, 0, 4}, 2222, 53, 33, "udp!!"}, *spool.spool);
  AddRow({kProtocolICMP, {10, 0, 0, 5}, {10, 0, 0, 6}, 0x0800, 0, 32, "icmp"}, *spool.spool);
  model.TakeRows();
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  const auto windows = [&] { return dialog.findChildren<PacketDetailsWindow*>(); };

  view->setFocus();
  QTest::keyClick(view, Qt::Key_Return);
  EXPECT_TRUE(windows().empty());  // no row selected: Enter goes on to the dialog

  view->selectRow(1);  // the UDP row, the middle one
  QTest::keyClick(view, Qt::Key_Enter);
  ASSERT_EQ(windows().size(), 1);
  PacketDetailsWindow* udp = windows().front();
  EXPECT_TRUE(udp->isVisible() && udp->isWindow());
  EXPECT_EQ(udp->windowTitle(), QStringLiteral("数据包详情"));
  const QStringList udpLines = TreeLines(*udp);
  EXPECT_TRUE(udpLines.contains(QStringLiteral("源端口=2222")));
  EXPECT_TRUE(udpLines.contains(QStringLiteral("收到=33 字节")));
  const QString udpDump = udp->Dump()->toPlainText();
  EXPECT_TRUE(udpDump.startsWith(QStringLiteral("0000  45 00 00 21 ")));
  EXPECT_TRUE(udpDump.section('\n', 1, 1).endsWith(QStringLiteral("udp!")));  // bytes 28..31
  // Within the screen's available area (the offscreen screen is lower than the window would be).
  EXPECT_TRUE(udp->screen()->availableGeometry().contains(udp->frameGeometry())) << udp->frameGeometry().height();
  // A value wider than its cell shows whole in a tooltip; one that fits shows none.
  QTreeWidget& fields = *udp->Fields();
  QTreeWidgetItem* received = fields.topLevelItem(0)->child(1);  // "33 字节"
  QTreeWidgetItem* longest = received;
  for (QTreeWidgetItemIterator item(&fields); *item; ++item) {
    if ((*item)->text(1).size() > longest->text(1).size()) longest = *item;
  }
  const auto toolTipOf = [&](QTreeWidgetItem* item) {
    QToolTip::hideText();
    const QPoint at(fields.columnViewportPosition(1) + 4, fields.visualItemRect(item).center().y());
    QHelpEvent help(QEvent::ToolTip, at, fields.viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(fields.viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
  };
  EXPECT_EQ(toolTipOf(received), QString());
  udp->resize(fields.columnWidth(0) + 80, udp->height());
  QCoreApplication::processEvents();
  EXPECT_EQ(toolTipOf(received), QString());
  EXPECT_EQ(toolTipOf(longest), longest->text(1));
  const QPoint icmpRow = view->visualRect(model.index(0, 1)).center();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, icmpRow);  // a double-click's first press
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, icmpRow);
  ASSERT_EQ(windows().size(), 2);
  const QStringList icmpLines = TreeLines(*windows().back());
  EXPECT_TRUE(icmpLines.contains(QStringLiteral("类型=8（回显请求）")));
  EXPECT_FALSE(icmpLines.contains(QStringLiteral("UDP 首部=")));

  // Clear list takes the spool's bytes away; the open windows keep theirs.
  model.Clear();
  AddRow({kProtocolTCP, {9, 9, 9, 9}, {8, 8, 8, 8}, 7, 7, 44, "zzzz"}, *spool.spool);
  model.TakeRows();
  EXPECT_EQ(TreeLines(*udp), udpLines);
  EXPECT_EQ(udp->Dump()->toPlainText(), udpDump);
  udp->close();  // deleted when closed
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(windows().size(), 1);
}

}  // namespace
}  // namespace orvanel
