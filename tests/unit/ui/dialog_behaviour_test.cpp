#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <cstdlib>
#include <sstream>

#include "res/resource.h"
#include "tests/support/capture_files.h"
#include "tests/support/cli_process.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/test_files.h"
#include "tests/support/ui_test_support.h"
#include "ui/capture_dlg.h"
#include "ui/conversation_model.h"
#include "ui/conversation_texts.h"
#include "ui/conversation_window.h"
#include "ui/find_window.h"
#include "ui/packet_list_view.h"
#include "ui/packet_model.h"

namespace orvanel {
namespace {

using test::RunExpectingModal;

// 192.0.2.0/24 is documentation space: never an address of this machine.
HostQueries FakeHost() {
  return {[] { return std::optional<std::string>("host"); },
          [] {
            return std::optional<std::vector<std::string>>(
                std::vector<std::string>{"192.0.2.1", "192.0.2.15", "127.0.0.1"});
          }};
}

QString Text(CCaptureDlg& dialog, int id) { return static_cast<QLineEdit*>(dialog.GetDlgItem(id))->text(); }
QCheckBox* Box(CCaptureDlg& dialog, int id) { return static_cast<QCheckBox*>(dialog.GetDlgItem(id)); }
QPushButton* Button(CCaptureDlg& dialog, int id) { return static_cast<QPushButton*>(dialog.GetDlgItem(id)); }

TEST(DialogBehaviour, InitialState) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  for (int id = res::IDC_CHK_OTHER; id <= res::IDC_CHK_SAVE_LAST; ++id) {
    const bool enable = id == res::IDC_CHK_OTHER || id == res::IDC_CHK_SRC_IP || id == res::IDC_CHK_DST_IP;
    EXPECT_EQ(Box(dialog, id)->isChecked(), enable) << id;
  }
  auto* combo = static_cast<QComboBox*>(dialog.GetDlgItem(res::IDC_CB_DEVICE));
  ASSERT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->itemText(0), QStringLiteral("192.0.2.1"));
  EXPECT_EQ(combo->itemText(1), QStringLiteral("192.0.2.15"));
  EXPECT_EQ(combo->itemText(2), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(combo->currentIndex(), -1);
  EXPECT_EQ(Text(dialog, res::IDC_SRC_IP), QStringLiteral("192.0.2.1"));
  EXPECT_EQ(Text(dialog, res::IDC_DST_IP), QStringLiteral("192.0.2.1"));
  for (int id :
       {1002, 1003, 1004, 1005, 1007, 1009, 1010, 1011, 1012, 1013, 1014, 1015, 1016, 1019, 1020, 1021, 1022}) {
    EXPECT_EQ(Text(dialog, id), QStringLiteral("0")) << id;
  }
  EXPECT_EQ(dialog.focusWidget(), dialog.GetDlgItem(res::IDC_BTN_START));
  EXPECT_EQ(Button(dialog, res::IDC_BTN_START)->text(), QStringLiteral("开始嗅探"));
  EXPECT_FALSE(dialog.windowIcon().isNull());
  EXPECT_EQ(dialog.windowIcon().availableSizes().size(), 4);
}

TEST(DialogBehaviour, CountersCannotBeTypedIntoButCanBeSelected) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  auto* counter = static_cast<QLineEdit*>(dialog.GetDlgItem(res::IDC_ALL_TCP));
  counter->setFocus();
  QTest::keyClicks(counter, "123");
  EXPECT_EQ(counter->text(), QStringLiteral("0"));
  counter->selectAll();
  EXPECT_EQ(counter->selectedText(), QStringLiteral("0"));
  auto* other = Box(dialog, res::IDC_CHK_SRC_OTHER);
  QTest::mouseClick(other, Qt::LeftButton);
  EXPECT_FALSE(other->isChecked());
}

TEST(DialogBehaviour, ChoosingAnAddressOverwritesBothFilters) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  auto* source = static_cast<QLineEdit*>(dialog.GetDlgItem(res::IDC_SRC_IP));
  source->setText(QStringLiteral("10."));
  auto* combo = static_cast<QComboBox*>(dialog.GetDlgItem(res::IDC_CB_DEVICE));
  combo->setCurrentIndex(1);
  EXPECT_EQ(Text(dialog, res::IDC_SRC_IP), QStringLiteral("192.0.2.15"));
  EXPECT_EQ(Text(dialog, res::IDC_DST_IP), QStringLiteral("192.0.2.15"));
}

int OpenDescriptors() {
  return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

TEST(DialogBehaviour, StartWithoutAChosenAddressAsksForOneAndStaysIdle) {
  if (!test::CanCapture()) GTEST_SKIP() << "Start needs the right to capture (run as root)";
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  int descriptors = 0;  // counted after the first box: Qt opens some for good then
  const auto press = [&] { QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton); };
  for (int attempt = 0; attempt < 4; ++attempt) {
    // First nothing is chosen, then an address that is not this machine's.
    if (attempt == 2) static_cast<QComboBox*>(dialog.GetDlgItem(res::IDC_CB_DEVICE))->setCurrentIndex(0);
    const auto seen = RunExpectingModal(press);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->text, QStringLiteral("请选择网络设备地址\t\n"));
    EXPECT_EQ(seen->title, QStringLiteral("Orvanel"));
    EXPECT_EQ(seen->icon, QMessageBox::Warning);
    EXPECT_EQ(seen->buttons, QStringList{QStringLiteral("确定")});
    EXPECT_FALSE(dialog.IsCapturing());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Button(dialog, res::IDC_BTN_START)->text(), QStringLiteral("开始嗅探"));
    EXPECT_TRUE(dialog.GetDlgItem(res::IDC_SRC_IP)->isEnabled());
    EXPECT_TRUE(dialog.GetDlgItem(res::IDC_CB_DEVICE)->isEnabled());
    if (attempt == 0) descriptors = OpenDescriptors();
  }
  // The capture socket each press opened is closed again; other threads may
  // hold a file for a moment, so the count is waited for.
  EXPECT_TRUE(test::WaitFor([&] { return OpenDescriptors() == descriptors; })) << OpenDescriptors() << " open";
}

TEST(DialogBehaviour, EnterPressesOnlyAFocusedPushButton) {
  if (!test::CanCapture()) GTEST_SKIP() << "Start needs the right to capture (run as root)";
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  auto* box = Box(dialog, res::IDC_CHK_SRC_TCP);
  for (int id : {res::IDC_CHK_SRC_TCP, res::IDC_SRC_IP, res::IDC_ALL_TCP, res::IDC_LIST_PACKETS, res::IDC_CB_DEVICE}) {
    QWidget* control = dialog.GetDlgItem(id);
    control->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
      const auto seen = RunExpectingModal([&] { QTest::keyClick(control, key); });
      EXPECT_FALSE(seen) << id;
      EXPECT_TRUE(dialog.isVisible()) << id;
      EXPECT_EQ(dialog.result(), 0) << id;
    }
  }
  EXPECT_FALSE(box->isChecked());
  // On the Start button Enter presses it: with no address chosen it asks for one.
  QWidget* start = dialog.GetDlgItem(res::IDC_BTN_START);
  start->setFocus();
  const auto seen = RunExpectingModal([&] { QTest::keyClick(start, Qt::Key_Return); });
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->text, QStringLiteral("请选择网络设备地址\t\n"));
  EXPECT_TRUE(dialog.isVisible());
}

TEST(DialogBehaviour, EscapeClosesTheDialog) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  dialog.GetDlgItem(res::IDC_SRC_IP)->setFocus();
  QTest::keyClick(dialog.GetDlgItem(res::IDC_SRC_IP), Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(DialogBehaviour, AboutFromTheMenuAndF1) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));  // shortcuts need an active window
  QMenu* menu = dialog.GetSystemMenu();
  ASSERT_TRUE(menu);
  const QList<QAction*> actions = menu->actions();
  ASSERT_GE(actions.size(), 2);
  QAction* about = actions.back();
  EXPECT_EQ(about->text(), QStringLiteral("关于 Orvanel(&A)..."));
  EXPECT_EQ(about->data().toInt(), res::IDM_ABOUTBOX);
  const auto fromMenu = RunExpectingModal([&] { about->trigger(); });
  ASSERT_TRUE(fromMenu);
  EXPECT_EQ(fromMenu->className, QStringLiteral("orvanel::CAboutDlg"));
  EXPECT_EQ(fromMenu->title, QStringLiteral("关于 Orvanel"));
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  const auto fromF1 = RunExpectingModal([&] { QTest::keyClick(&dialog, Qt::Key_F1); },
                                        [](QWidget& box) { QTest::keyClick(&box, Qt::Key_Escape); });
  ASSERT_TRUE(fromF1);
  EXPECT_EQ(fromF1->className, QStringLiteral("orvanel::CAboutDlg"));
  EXPECT_TRUE(dialog.isVisible());
}

TEST(DialogBehaviour, MenuEntriesAndTheOneRateGraphWindow) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  QStringList entries;
  for (QAction* action : dialog.GetSystemMenu()->actions()) entries << (action->isSeparator() ? "-" : action->text());
  EXPECT_EQ(entries,
            QStringList({"最小化(&N)", "关闭(&C)", "-", "流量图(&G)...", "打开捕获文件(&O)...", "最近打开的文件",
                         "保存列表为 pcapng(&S)...", "查找(&F)...", "会话统计(&C)...", "关于 Orvanel(&A)..."}));
  EXPECT_EQ(dialog.GetSystemMenu()->actions()[4]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
  EXPECT_EQ(dialog.GetSystemMenu()->actions()[7]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
  EXPECT_EQ(dialog.GetSystemMenu()->actions()[8]->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));

  QAction* graph = dialog.GetSystemMenu()->actions()[3];
  graph->trigger();
  graph->trigger();
  QList<QWidget*> windows;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->windowTitle() == QStringLiteral("流量图")) windows << widget;
  }
  ASSERT_EQ(windows.size(), 1);
  EXPECT_FALSE(windows.front()->isModal());
  EXPECT_EQ(windows.front()->parentWidget(), &dialog);
}

QAction* OpenEntry(CCaptureDlg& dialog) { return dialog.GetSystemMenu()->actions()[4]; }

test::Bytes Packet(std::uint8_t protocol, const std::string& source, const std::string& destination,
                   const std::string& payload) {
  return test::Datagram{.protocol = protocol,
                        .source = source,
                        .destination = destination,
                        .sourcePort = 1000,
                        .destinationPort = 53,
                        .payload = payload}
      .Bytes();
}

// Each (time, bytes) of a capture file, in order.
std::vector<std::pair<std::int64_t, test::Bytes>> PacketsOf(const std::string& path) {
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* file = pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_NANO, error);
  std::vector<std::pair<std::int64_t, test::Bytes>> packets;
  if (!file) return packets;
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  while (pcap_next_ex(file, &header, &data) == 1) {
    packets.emplace_back(std::int64_t{header->ts.tv_sec} * 1'000'000'000 + header->ts.tv_usec,
                         test::Bytes(data, data + header->caplen));
  }
  pcap_close(file);
  return packets;
}

// The entries of "最近打开的文件", without their numbers.
QStringList RecentFiles(CCaptureDlg& dialog) {
  QStringList files;
  for (QAction* action : dialog.GetSystemMenu()->actions()) {
    if (action->text() != QStringLiteral("最近打开的文件")) continue;
    for (QAction* entry : action->menu()->actions()) files << entry->text().section(' ', 1);
  }
  return files;
}

TEST(DialogBehaviour, OpenedCaptureFilesGiveTheCliResultsAndBadOnesSayWhy) {
  QSettings(QStringLiteral("Orvanel"), QStringLiteral("orvanel")).remove(QStringLiteral("recentFiles"));
  const test::ScratchDirectory directory("orvanel-dialog-open");
  const auto path = [&](const char* name) { return (directory.path() / name).string(); };
  // Every case and protocol around the dialog's first address, in three files of two link types.
  std::vector<test::Bytes> first, second;
  for (std::uint8_t protocol : {kProtocolTCP, kProtocolUDP, kProtocolICMP, std::uint8_t{47}}) {
    const std::string name = "p" + std::to_string(protocol);
    first.push_back(test::Ethernet(Packet(protocol, "192.0.2.1", "198.51.100.7", name + " out")));
    first.push_back(test::Ethernet(Packet(protocol, "198.51.100.7", "192.0.2.1", name + " in")));
    second.push_back(test::CookedV1(Packet(protocol, "192.0.2.1", "192.0.2.15", name + " both")));
    second.push_back(test::CookedV1(Packet(protocol, "10.0.0.1", "10.0.0.2", name + " neither")));
  }
  test::WritePcap(path("a.pcap"), DLT_EN10MB, first);
  test::WritePcapng(path("b.pcapng"), DLT_LINUX_SLL, second);
  test::WritePcap(path("c.pcap"), DLT_EN10MB, {first[3], first[4]});
  test::CliProcess cli({ORVANEL_CLI_PATH, "--format", "json", "--show", "src=tcp,udp", "--show", "dst=icmp,udp",
                        "--show", "other=udp", "--src", "192.0.2.1", "--dst", "192.0.2.1", "--write",
                        path("cli.pcapng"), "--read", path("a.pcap"), path("b.pcapng"), path("c.pcap")},
                       directory.path());
  ASSERT_EQ(cli.Wait(std::chrono::seconds(30)), 0) << cli.Err();
  std::vector<nlohmann::json> cliRows;
  nlohmann::json counters;
  std::istringstream lines(cli.Out());
  for (std::string line; std::getline(lines, line);) {
    const auto object = nlohmann::json::parse(line);
    if (object.contains("counters"))
      counters = object["counters"];
    else
      cliRows.push_back(object);
  }
  ASSERT_EQ(cliRows.size(), 9u);

  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  for (int id : {res::IDC_CHK_SRC_TCP, res::IDC_CHK_SRC_UDP, res::IDC_CHK_DST_ICMP, res::IDC_CHK_DST_UDP,
                 res::IDC_CHK_OTH_UDP}) {
    Box(dialog, id)->setChecked(true);
  }
  const QStringList files = {QString::fromStdString(path("a.pcap")), QString::fromStdString(path("b.pcapng")),
                             QString::fromStdString(path("c.pcap"))};
  const struct {
    const char* group;
    int tcp, udp, icmp, other;
  } fields[] = {{"all", res::IDC_ALL_TCP, res::IDC_ALL_UDP, res::IDC_ALL_ICMP, res::IDC_ALL_OTHER},
                {"src", res::IDC_SRC_TCP, res::IDC_SRC_UDP, res::IDC_SRC_ICMP, res::IDC_SRC_OTHER},
                {"dst", res::IDC_DST_TCP, res::IDC_DST_UDP, res::IDC_DST_ICMP, res::IDC_DST_OTHER},
                {"other", res::IDC_OTH_TCP, res::IDC_OTH_UDP, res::IDC_OTH_ICMP, res::IDC_OTH_OTHER}};
  // Opened twice: rows pile up, and the second read zeroes the groups as Start does, not All.
  for (int round = 1; round <= 2; ++round) {
    dialog.OpenCaptureFiles(files);
    ASSERT_TRUE(test::WaitFor([&] { return !dialog.IsReading(); }, 10000));
    for (const auto& field : fields) {
      const int times = std::string(field.group) == "all" ? round : 1;
      const nlohmann::json& group = counters[field.group];
      EXPECT_EQ(Text(dialog, field.tcp).toInt(), times * group["tcp"].get<int>()) << field.group;
      EXPECT_EQ(Text(dialog, field.udp).toInt(), times * group["udp"].get<int>()) << field.group;
      EXPECT_EQ(Text(dialog, field.icmp).toInt(), times * group["icmp"].get<int>()) << field.group;
      EXPECT_EQ(Text(dialog, field.other).toInt(), times * group["other"].get<int>()) << field.group;
    }
    EXPECT_EQ(Text(dialog, res::IDC_ERROR), QStringLiteral("0"));
    ASSERT_EQ(test::Rows(dialog), round * 9);
  }
  PacketModel& packets = static_cast<PacketListView*>(dialog.GetDlgItem(res::IDC_LIST_PACKETS))->Packets();
  packets.SetWindow(packets.ShownRows() - 1, 9);
  const char* columns[] = {"protocol",         "source_address", "source_port", "destination_address",
                           "destination_port", "length",         "payload"};
  for (int row = 0; row < 9; ++row) {  // newest on top
    const nlohmann::json& expected = cliRows[8 - row];
    for (int column = 0; column < 7; ++column) {
      EXPECT_EQ(packets.index(row, column).data().toString().toStdString(),
                expected[columns[column]].get<std::string>())
          << row << " " << column;
    }
  }
  // The same datagrams with the files' own capture times, in the same order (twice over).
  ASSERT_FALSE(dialog.SaveList(QString::fromStdString(path("dialog.pcapng"))));
  const auto cliPackets = PacketsOf(path("cli.pcapng"));
  ASSERT_EQ(cliPackets.size(), 9u);
  EXPECT_EQ(cliPackets[1].first, 1'700'000'000'000'002'000);  // the third frame, at 2 µs
  auto twice = cliPackets;
  twice.insert(twice.end(), cliPackets.begin(), cliPackets.end());
  EXPECT_EQ(PacketsOf(path("dialog.pcapng")), twice);
  {
    // Compressed by gzip and zstd, the same files give the same rows.
    const std::string in = "cd '" + directory.path().string() + "' && ";
    ASSERT_EQ(std::system((in + "gzip -k a.pcap && zstd -q b.pcapng").c_str()), 0);
    CCaptureDlg unpacking(nullptr, FakeHost());
    unpacking.show();
    for (int id : {res::IDC_CHK_SRC_TCP, res::IDC_CHK_SRC_UDP, res::IDC_CHK_DST_ICMP, res::IDC_CHK_DST_UDP,
                   res::IDC_CHK_OTH_UDP}) {
      Box(unpacking, id)->setChecked(true);
    }
    unpacking.OpenCaptureFiles(
        {QString::fromStdString(path("a.pcap.gz")), QString::fromStdString(path("b.pcapng.zst")), files[2]});
    ASSERT_TRUE(test::WaitFor([&] { return !unpacking.IsReading(); }, 10000));
    ASSERT_FALSE(unpacking.SaveList(QString::fromStdString(path("unpacked.pcapng"))));
    EXPECT_EQ(PacketsOf(path("unpacked.pcapng")), cliPackets);
    // "最近打开的文件": the files opened, the first on top, in the next dialog too; an entry opens its file.
    const QStringList recent = {QString::fromStdString(path("a.pcap.gz")), QString::fromStdString(path("b.pcapng.zst")),
                                files[2], files[0], files[1]};
    EXPECT_EQ(RecentFiles(unpacking), recent);
    CCaptureDlg next(nullptr, FakeHost());
    next.show();
    EXPECT_EQ(RecentFiles(next), recent);
    Box(next, res::IDC_CHK_OTH_UDP)->setChecked(true);
    next.GetSystemMenu()->actions()[5]->menu()->actions()[3]->trigger();  // a.pcap
    ASSERT_TRUE(test::WaitFor([&] { return !next.IsReading(); }, 10000));
    EXPECT_EQ(Text(next, res::IDC_ALL_UDP), QStringLiteral("2"));
    EXPECT_EQ(RecentFiles(next).front(), files[0]);
  }

  // Bad files: a box names the file and says why; nothing is lost.
  std::ofstream(path("text.pcap")) << "not a capture file at all\n";
  test::WritePcap(path("usb.pcap"), DLT_USB_LINUX, {test::Bytes(48, 0)});
  std::ofstream(path("empty.pcap")).close();
  const std::pair<std::string, QString> bad[] = {{path("text.pcap"), "不是 pcap 或 pcapng 捕获文件"},
                                                 {path("usb.pcap"), "不支持它的链路类型 USB_LINUX"},
                                                 {path("empty.pcap"), "文件是空的"},
                                                 {path("missing.pcap"), "文件不存在"},
                                                 {directory.path().string(), "这是一个目录，不是文件"}};
  for (const auto& [file, reason] : bad) {
    const auto seen = RunExpectingModal([&] { dialog.OpenCaptureFiles({files[0], QString::fromStdString(file)}); });
    ASSERT_TRUE(seen) << file;
    EXPECT_EQ(seen->text, QStringLiteral("无法读取捕获文件“%1”：%2。").arg(QString::fromStdString(file), reason));
    EXPECT_FALSE(dialog.IsReading());
    EXPECT_EQ(test::Rows(dialog), 18);
  }
  // Cut short in its last frame: what came before stays, and the box says so.
  test::WritePcap(path("cut.pcap"), DLT_EN10MB, first);
  std::filesystem::resize_file(path("cut.pcap"), std::filesystem::file_size(path("cut.pcap")) - 5);
  const auto cut = RunExpectingModal([&] {
    dialog.OpenCaptureFiles({QString::fromStdString(path("cut.pcap"))});
    test::WaitFor([&] { return !dialog.IsReading(); }, 10000);
  });
  ASSERT_TRUE(cut);
  EXPECT_TRUE(cut->text.startsWith(
      QStringLiteral("无法读取捕获文件“%1”：文件不完整，在中途被截断。").arg(QString::fromStdString(path("cut.pcap")))))
      << cut->text.toStdString();
  EXPECT_TRUE(cut->text.contains(QStringLiteral("保留"))) << cut->text.toStdString();
  EXPECT_EQ(Text(dialog, res::IDC_SRC_TCP), QStringLiteral("1"));  // the seven frames before the cut
  EXPECT_EQ(Text(dialog, res::IDC_DST_OTHER), QStringLiteral("0"));
  EXPECT_EQ(test::Rows(dialog), 18 + 4);
  // A compressed file cut short says the same.
  ASSERT_EQ(std::system(("gzip -c '" + path("a.pcap") + "' | head -c 60 > '" + path("cut.pcap.gz") + "'").c_str()), 0);
  const auto cutPacked = RunExpectingModal([&] {
    dialog.OpenCaptureFiles({QString::fromStdString(path("cut.pcap.gz"))});
    test::WaitFor([&] { return !dialog.IsReading(); }, 10000);
  });
  ASSERT_TRUE(cutPacked);
  EXPECT_TRUE(cutPacked->text.contains(QStringLiteral("文件不完整，在中途被截断"))) << cutPacked->text.toStdString();
  EXPECT_TRUE(Button(dialog, res::IDC_BTN_START)->isEnabled());
  EXPECT_TRUE(dialog.GetDlgItem(res::IDC_SRC_IP)->isEnabled());
}

TEST(DialogBehaviour, ACancelledReadKeepsWhatWasRead) {
  const test::ScratchDirectory directory("orvanel-dialog-cancel");
  std::vector<test::Bytes> frames;
  for (int i = 0; i < 5; ++i) {
    frames.push_back(test::Ethernet(Packet(kProtocolUDP, "10.0.0.1", "10.0.0.2", "packet " + std::to_string(i))));
  }
  const std::string whole = (directory.path() / "whole.pcap").string();
  test::WritePcap(whole, DLT_EN10MB, frames);
  const std::string bytes = test::FileContents(whole);
  const std::size_t threePackets = 24 + 3 * (16 + frames[0].size());
  // Through a pipe, so the read waits for the test: three packets now, two after the cancel.
  const std::string pipe = (directory.path() / "pipe.pcap").string();
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const int writer = open(pipe.c_str(), O_RDWR | O_CLOEXEC);  // the dialog's open need not wait
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, bytes.data(), threePackets), static_cast<ssize_t>(threePackets));

  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  Box(dialog, res::IDC_CHK_OTH_UDP)->setChecked(true);
  dialog.OpenCaptureFiles({QString::fromStdString(pipe)});
  ASSERT_TRUE(test::WaitFor([&] { return test::Rows(dialog) == 3; }));
  EXPECT_TRUE(dialog.IsReading());
  EXPECT_FALSE(Button(dialog, res::IDC_BTN_START)->isEnabled());
  EXPECT_FALSE(OpenEntry(dialog)->isEnabled());
  EXPECT_FALSE(dialog.GetDlgItem(res::IDC_SRC_IP)->isEnabled());
  auto* progress = dialog.findChild<QProgressDialog*>();
  ASSERT_TRUE(progress);
  ASSERT_TRUE(test::WaitFor([&] { return progress->isVisible(); }));
  auto* cancel = progress->findChild<QPushButton*>();
  ASSERT_TRUE(cancel);
  EXPECT_EQ(cancel->text(), QStringLiteral("取消"));
  QTest::mouseClick(cancel, Qt::LeftButton);
  // The read waits in the pipe: the packet it gets then is the last it takes, as after Stop.
  const std::size_t rest = bytes.size() - threePackets;
  ASSERT_EQ(write(writer, bytes.data() + threePackets, rest), static_cast<ssize_t>(rest));
  close(writer);
  ASSERT_TRUE(test::WaitFor([&] { return !dialog.IsReading(); }));
  EXPECT_EQ(test::Rows(dialog), 4);
  EXPECT_EQ(Text(dialog, res::IDC_OTH_UDP), QStringLiteral("4"));
  EXPECT_EQ(Text(dialog, res::IDC_ALL_UDP), QStringLiteral("4"));
  EXPECT_FALSE(progress->isVisible());
  EXPECT_TRUE(Button(dialog, res::IDC_BTN_START)->isEnabled());
  EXPECT_TRUE(OpenEntry(dialog)->isEnabled());
}

TEST(DialogBehaviour, FindFromTheMenuShowsLibpcapsReasonForABadExpression) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  for (QAction* action : dialog.GetSystemMenu()->actions()) {
    if (action->text() == QStringLiteral("查找(&F)...")) action->trigger();
  }
  auto* find = dialog.findChild<FindWindow*>();
  ASSERT_TRUE(find);
  EXPECT_TRUE(find->isVisible());
  EXPECT_FALSE(find->isModal());
  EXPECT_EQ(find->windowTitle(), QStringLiteral("查找"));
  QStringList buttons;
  for (QPushButton* button : find->findChildren<QPushButton*>()) buttons << button->text();
  EXPECT_EQ(buttons, QStringList({"查找下一个(&F)", "取消"}));
  QStringList checked;
  for (QRadioButton* choice : find->findChildren<QRadioButton*>()) {
    if (choice->isChecked()) checked << choice->text();
  }
  EXPECT_EQ(checked, QStringList({"过滤表达式(&E)", "向下(&D)"}));
  find->What().setText(QStringLiteral("udp and port"));
  QTest::keyClick(&find->What(), Qt::Key_Return);  // the default button
  EXPECT_TRUE(find->Status().text().contains(QStringLiteral("syntax error"))) << find->Status().text().toStdString();
  EXPECT_FALSE(find->Searching());
  find->OnlyMatching().setChecked(true);  // a bad expression filters nothing
  EXPECT_FALSE(find->OnlyMatching().isChecked());
  find->What().setText(QStringLiteral("udp"));
  find->OnlyMatching().setChecked(true);
  EXPECT_EQ(find->Status().text(), QStringLiteral("匹配 0 行，共 0 行"));
}

TEST(DialogBehaviour, ConversationsOfOpenedFilesLeadToExactlyTheirRowsAndClearEmptiesThem) {
  const test::ScratchDirectory directory("orvanel-dialog-conversations");
  const auto tcp = [](const char* from, std::uint16_t fromPort, const char* to, std::uint16_t toPort,
                      std::string payload) {
    return test::Ethernet(test::Datagram{.protocol = kProtocolTCP,
                                         .source = from,
                                         .destination = to,
                                         .sourcePort = fromPort,
                                         .destinationPort = toPort,
                                         .payload = payload}
                              .Bytes());
  };
  const std::vector<test::Bytes> frames = {tcp("10.0.0.1", 1000, "10.0.0.2", 80, "GET /"),
                                           tcp("10.0.0.2", 80, "10.0.0.1", 1000, std::string(300, 'x')),
                                           tcp("10.0.0.1", 80, "10.0.0.2", 1000, "swapped ports"),
                                           test::Ethernet(Packet(kProtocolUDP, "10.0.0.1", "10.0.0.3", "query")),
                                           test::Ethernet(Packet(kProtocolICMP, "10.0.0.3", "10.0.0.1", "")),
                                           test::Ethernet(Packet(kProtocolICMP, "10.0.0.1", "10.0.0.3", ""))};
  const std::string file = (directory.path() / "talk.pcap").string();
  test::WritePcap(file, DLT_EN10MB, frames);

  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  for (int id : {res::IDC_CHK_OTH_TCP, res::IDC_CHK_OTH_UDP, res::IDC_CHK_OTH_ICMP}) Box(dialog, id)->setChecked(true);
  dialog.OpenCaptureFiles({QString::fromStdString(file)});
  ASSERT_TRUE(test::WaitFor([&] { return !dialog.IsReading(); }, 10000));
  ASSERT_EQ(test::Rows(dialog), 6);

  QTest::keyClick(&dialog, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  auto* window = dialog.findChild<ConversationWindow*>();
  ASSERT_TRUE(window);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->isModal());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("会话统计"));
  ConversationModel& model = window->Model();
  ASSERT_TRUE(test::WaitFor([&] { return model.rowCount() == 4 && !window->Ranking(); }));
  const auto cell = [&model](int row, int column) { return model.index(row, column).data().toString(); };
  // By total bytes at first: the TCP conversation with the long reply on top.
  EXPECT_EQ(cell(0, kProtocolColumn), QStringLiteral("TCP"));
  EXPECT_EQ(cell(0, kAddressAColumn), QStringLiteral("10.0.0.1"));
  EXPECT_EQ(cell(0, kPortAColumn), QStringLiteral("1000"));
  EXPECT_EQ(cell(0, kPacketsBToAColumn), QStringLiteral("1"));
  EXPECT_EQ(model.index(0, kBytesBToAColumn).data(Qt::ToolTipRole).toString(), QStringLiteral("340 字节"));
  EXPECT_EQ(cell(1, kProtocolColumn), QStringLiteral("ICMP"));  // two datagrams of 28 bytes
  EXPECT_EQ(cell(1, kPortAColumn), QString());
  EXPECT_EQ(cell(1, kAddressAColumn), QStringLiteral("10.0.0.3"));  // the first packet's source
  // A click on a heading sorts by it, no ports first; the narrowing keeps conversations with the text.
  window->View().horizontalHeader()->sectionClicked(kPortAColumn);
  ASSERT_TRUE(test::WaitFor([&] { return !window->Ranking() && cell(1, kPortAColumn) == QStringLiteral("80"); }));
  EXPECT_EQ(cell(0, kProtocolColumn), QStringLiteral("ICMP"));
  window->Narrowing().setText(QStringLiteral("10.0.0.3"));
  ASSERT_TRUE(test::WaitFor([&] { return !window->Ranking() && model.rowCount() == 2; }));
  window->View().selectAll();
  EXPECT_EQ(window->SelectedText().count(QLatin1Char('\n')), 2);
  EXPECT_TRUE(window->SelectedText().contains(QStringLiteral("\nUDP\t10.0.0.1\t1000\t10.0.0.3\t53\t1\t33\t0\t0\t")))
      << window->SelectedText().toStdString();
  window->Narrowing().clear();
  ASSERT_TRUE(test::WaitFor([&] { return !window->Ranking() && model.rowCount() == 4; }));
  const QString csv = QString::fromStdString((directory.path() / "talk.csv").string());
  ASSERT_FALSE(window->SaveCsv(csv));
  const std::string bytes = test::FileContents(csv.toStdString());
  EXPECT_TRUE(bytes.starts_with("\xEF\xBB\xBF"));
  const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 6);  // headings, four rows, the empty rest
  EXPECT_EQ(lines[0],
            QStringLiteral("协议,地址 A,端口 A,地址 B,端口 B,包 A→B,字节 A→B,包 B→A,字节 B→A,开始,持续,程序"));

  // The way to the packets: exactly the conversation's rows, the swapped ports left out.
  int row = 0;
  while (row < model.rowCount() &&
         !(cell(row, kProtocolColumn) == QStringLiteral("TCP") && cell(row, kPortAColumn) == QStringLiteral("1000"))) {
    ++row;
  }
  window->ShowOnlyConversation(row);
  auto* find = dialog.findChild<FindWindow*>();
  ASSERT_TRUE(find);
  EXPECT_TRUE(find->OnlyMatching().isChecked());
  ASSERT_TRUE(test::WaitFor([&] { return test::Rows(dialog) == 2; })) << test::Rows(dialog);
  PacketModel& packets = static_cast<PacketListView*>(dialog.GetDlgItem(res::IDC_LIST_PACKETS))->Packets();
  packets.SetWindow(packets.ShownRows() - 1, 2);
  EXPECT_EQ(packets.index(0, 2).data().toString(), QStringLiteral("80"));  // the reply, newest on top
  EXPECT_EQ(packets.index(1, 2).data().toString(), QStringLiteral("1000"));
  row = 0;
  while (row < model.rowCount() && cell(row, kProtocolColumn) != QStringLiteral("ICMP")) ++row;
  window->ShowOnlyConversation(row);
  ASSERT_TRUE(test::WaitFor(
      [&] { return test::Rows(dialog) == 2 && find->Status().text().startsWith(QStringLiteral("匹配 2 行")); }));
  packets.SetWindow(packets.ShownRows() - 1, 2);
  EXPECT_EQ(packets.index(0, 0).data().toString(), QStringLiteral("ICMP"));
  EXPECT_EQ(packets.index(1, 0).data().toString(), QStringLiteral("ICMP"));

  Button(dialog, res::IDC_BTN_CLEAR)->click();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(dialog.Conversations().Held(), 0u);
  dialog.OpenCaptureFiles({QString::fromStdString(file)});
  ASSERT_TRUE(test::WaitFor([&] { return !dialog.IsReading(); }, 10000));
  EXPECT_EQ(dialog.Conversations().Held(), 4u);
}

}  // namespace
}  // namespace orvanel
