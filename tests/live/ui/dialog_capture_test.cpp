// The dialog driving real captures. Each runs in a child process: in a fresh
// network namespace (its own loopback, no traffic but ours), or without the
// right to capture, or where a fatal message ends the process.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "res/resource.h"
#include "tests/support/loopback_flow.h"
#include "tests/support/test_process.h"
#include "tests/support/test_traffic.h"
#include "tests/support/ui_test_support.h"
#include "tests/support/veth_to_peer.h"
#include "ui/capture_dlg.h"
#include "ui/packet_details_window.h"

namespace orvanel {
namespace {

using test::ChooseAddress;
using test::InChild;
using test::Rows;
using test::RunExpectingModal;
using test::RunTestInChild;

const QStringList kFreshNetwork = {"unshare", "--net", "--", "sh", "-c", "ip link set lo up && exec \"$0\" \"$@\""};
// Every place a row spool may go is a tmpfs, where none is made: no row can be kept.
const QStringList kNoRoomForRows = {
    "unshare",
    "--net",
    "--mount",
    "--",
    "sh",
    "-c",
    "ip link set lo up && mount -t tmpfs tmpfs /var/tmp && HOME=/var/tmp XDG_CACHE_HOME=/var/tmp exec \"$0\" \"$@\""};
// Started in a full file system: where the last-packet files go, and a place to save to.
const QStringList kFullWorkingDirectory = {"unshare",
                                           "--net",
                                           "--mount",
                                           "--",
                                           "sh",
                                           "-c",
                                           "ip link set lo up && mount -t tmpfs -o size=4k tmpfs /mnt && cd /mnt && "
                                           "{ head -c 8192 /dev/zero >fill 2>/dev/null; exec \"$0\" \"$@\"; }"};
const QStringList kNoCaptureRight = {"setpriv", "--bounding-set=-net_raw", "--inh-caps=-net_raw", "--"};

// Shows the dialog and starts a capture on 127.0.0.1 that lists UDP by source.
bool StartListingLoopbackUdp(CCaptureDlg& dialog) {
  dialog.show();
  if (!ChooseAddress(dialog, QStringLiteral("127.0.0.1"))) return false;
  static_cast<QCheckBox*>(dialog.GetDlgItem(res::IDC_CHK_SRC_UDP))->setChecked(true);
  QTest::mouseClick(static_cast<QPushButton*>(dialog.GetDlgItem(res::IDC_BTN_START)), Qt::LeftButton);
  return dialog.IsCapturing();
}

// Runs the current test again in a child process under wrapper, where it does its work.
void ExpectPassedInChild(const QStringList& wrapper) {
  const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
  const test::ChildResult child =
      RunTestInChild(QString::fromLatin1(test.test_suite_name()) + '.' + QString::fromLatin1(test.name()), wrapper);
  EXPECT_TRUE(child.normalExit && child.exitCode == 0) << child.output.toStdString();
  EXPECT_TRUE(child.output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << child.output.toStdString();
}

// How long the calling thread has stood ready to run while others ran, in ms.
qint64 RunQueueWaitMs() {
  std::ifstream stat("/proc/thread-self/schedstat");
  long long runningNs = 0, waitingNs = 0;
  stat >> runningNs >> waitingNs;
  return waitingNs / 1'000'000;
}

QString Text(CCaptureDlg& dialog, int id) { return static_cast<QLineEdit*>(dialog.GetDlgItem(id))->text(); }
QPushButton* Button(CCaptureDlg& dialog, int id) { return static_cast<QPushButton*>(dialog.GetDlgItem(id)); }

// A bound UDP socket on loopback that sends datagrams to itself.
class LoopbackPeer {
 public:
  LoopbackPeer() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    address_.sin_family = AF_INET;
    address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address_), sizeof address_), 0);
    socklen_t length = sizeof address_;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length);
  }
  ~LoopbackPeer() { close(fd_); }
  bool Send(const QByteArray& payload) {
    return sendto(fd_, payload.constData(), payload.size(), 0, reinterpret_cast<sockaddr*>(&address_),
                  sizeof address_) == payload.size();
  }
  [[nodiscard]] QString Port() const { return QString::number(ntohs(address_.sin_port)); }

 private:
  int fd_;
  sockaddr_in address_{};
};

// The payloads of the table rows, top to bottom.
QStringList Payloads(CCaptureDlg& dialog) {
  auto* table = static_cast<QTableView*>(dialog.GetDlgItem(res::IDC_LIST_PACKETS));
  QStringList payloads;
  for (int row = 0; row < table->model()->rowCount(); ++row) {
    payloads << table->model()->index(row, 6).data().toString();
  }
  return payloads;
}

void Send(LoopbackPeer& peer, const QStringList& payloads) {
  for (const QString& payload : payloads) ASSERT_TRUE(peer.Send(payload.toUtf8()));
}

TEST(DialogCapture, LoopbackCaptureDrivenFromTheDialog) {
  if (!InChild()) {
    if (!test::CanCapture()) GTEST_SKIP() << "needs root: captures and network namespaces";
    return ExpectPassedInChild(kFreshNetwork);
  }
  // The last-packet files go to the directory current at start-up, however long its name.
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const QString dumpDirectory = scratch.path() + QStringLiteral("/") + QString(120, QLatin1Char('d')) +
                                QStringLiteral("/") + QString(120, QLatin1Char('e')) + QStringLiteral("/") +
                                QString(120, QLatin1Char('f'));
  ASSERT_TRUE(QDir().mkpath(dumpDirectory));
  ASSERT_GT(dumpDirectory.size(), 360);
  ASSERT_TRUE(QDir::setCurrent(dumpDirectory));
  CCaptureDlg dialog;
  dialog.show();
  ASSERT_TRUE(QDir::setCurrent(scratch.path()));
  ASSERT_TRUE(ChooseAddress(dialog, QStringLiteral("127.0.0.1")));
  ASSERT_EQ(Text(dialog, res::IDC_SRC_IP), QStringLiteral("127.0.0.1"));
  static_cast<QCheckBox*>(dialog.GetDlgItem(res::IDC_CHK_SAVE_LAST))->setChecked(true);
  static_cast<QCheckBox*>(dialog.GetDlgItem(res::IDC_CHK_SRC_UDP))->setChecked(true);
  static_cast<QCheckBox*>(dialog.GetDlgItem(res::IDC_CHK_DST_UDP))->setChecked(true);
  QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton);
  ASSERT_TRUE(dialog.IsCapturing());
  EXPECT_EQ(Button(dialog, res::IDC_BTN_START)->text(), QStringLiteral("停止嗅探"));
  EXPECT_FALSE(dialog.GetDlgItem(res::IDC_SRC_IP)->isEnabled());
  EXPECT_FALSE(dialog.GetDlgItem(res::IDC_DST_IP)->isEnabled());
  EXPECT_FALSE(dialog.GetDlgItem(res::IDC_CB_DEVICE)->isEnabled());

  LoopbackPeer peer;
  Send(peer, {"one", "two", "three"});
  // 127.0.0.1 to itself: case Both, listed once, counted in All, Source and Destination.
  ASSERT_TRUE(test::WaitFor([&] { return Rows(dialog) == 3 && Text(dialog, res::IDC_ALL_UDP) == "3"; }))
      << Rows(dialog) << " " << Text(dialog, res::IDC_ALL_UDP).toStdString();
  EXPECT_EQ(Payloads(dialog), (QStringList{"three", "two", "one"}));
  auto* model = static_cast<QTableView*>(dialog.GetDlgItem(res::IDC_LIST_PACKETS))->model();
  EXPECT_EQ(model->index(0, 0).data().toString(), QStringLiteral("UDP"));
  EXPECT_EQ(model->index(0, 1).data().toString(), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(model->index(0, 4).data().toString(), peer.Port());
  EXPECT_EQ(model->index(0, 5).data().toString(), QStringLiteral("33"));  // 20 + 8 + 5
  EXPECT_EQ(Text(dialog, res::IDC_SRC_UDP), QStringLiteral("3"));
  EXPECT_EQ(Text(dialog, res::IDC_DST_UDP), QStringLiteral("3"));
  EXPECT_EQ(Text(dialog, res::IDC_OTH_UDP), QStringLiteral("0"));
  EXPECT_EQ(Text(dialog, res::IDC_ALL_TCP), QStringLiteral("0"));
  EXPECT_EQ(Text(dialog, res::IDC_ERROR), QStringLiteral("0"));
  QFile saved(dumpDirectory + QStringLiteral("/buf_UDP.txt"));
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray last = saved.readAll();
  EXPECT_EQ(last.size(), 33);
  EXPECT_EQ(last.front(), '\x45');
  EXPECT_TRUE(last.endsWith("three"));

  // Clear list while capturing: table and fields empty at once, counting goes on from zero.
  auto* table = static_cast<QTableView*>(dialog.GetDlgItem(res::IDC_LIST_PACKETS));
  const int rowHeight = table->rowHeight(0);
  QTest::mouseClick(Button(dialog, res::IDC_BTN_CLEAR), Qt::LeftButton);
  EXPECT_EQ(Rows(dialog), 0);
  EXPECT_EQ(Text(dialog, res::IDC_ALL_UDP), QStringLiteral("0"));
  EXPECT_EQ(Text(dialog, res::IDC_SRC_UDP), QStringLiteral("0"));
  ASSERT_TRUE(dialog.IsCapturing());
  Send(peer, {"four", "five"});
  ASSERT_TRUE(test::WaitFor([&] { return Rows(dialog) == 2 && Text(dialog, res::IDC_ALL_UDP) == "2"; }));
  EXPECT_EQ(Payloads(dialog), (QStringList{"five", "four"}));
  EXPECT_EQ(dialog.GetDlgItem(res::IDC_ERROR)->toolTip(), QStringLiteral("接收失败 0，内核丢弃 0，未列出 0，未保存 0"));

  // The list saved as pcapng: oldest first, the datagrams as captured, owner-only.
  const QString pcapng = scratch.path() + QStringLiteral("/list.pcapng");
  ASSERT_FALSE(dialog.SaveList(pcapng).has_value());
  EXPECT_EQ(std::filesystem::status(pcapng.toStdString()).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* file = pcap_open_offline(pcapng.toLocal8Bit().constData(), error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_EQ(pcap_datalink(file), DLT_IPV4);
  QStringList payloads;
  pcap_pkthdr* header;
  const u_char* data;
  while (pcap_next_ex(file, &header, &data) == 1) {
    payloads << QString::fromLatin1(reinterpret_cast<const char*>(data) + 28, static_cast<int>(header->caplen) - 28);
    EXPECT_GT(header->ts.tv_sec, 1700000000);
  }
  pcap_close(file);
  EXPECT_EQ(payloads, (QStringList{"four", "five"}));
  // A save that cannot be made says why and leaves nothing behind.
  EXPECT_TRUE(dialog.SaveList(scratch.path() + QStringLiteral("/missing/list.pcapng")).has_value());
  EXPECT_TRUE(dialog.SaveList(QStringLiteral("/proc/list.pcapng")).has_value());

  // Clear list gives the table a new row header: still hidden, rows of the same fixed height.
  EXPECT_FALSE(table->verticalHeader()->isVisible());
  EXPECT_EQ(table->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(table->rowHeight(1), rowHeight);

  // Unticking a box takes effect without a restart: counted, no longer listed.
  static_cast<QCheckBox*>(dialog.GetDlgItem(res::IDC_CHK_SRC_UDP))->setChecked(false);
  static_cast<QCheckBox*>(dialog.GetDlgItem(res::IDC_CHK_DST_UDP))->setChecked(false);
  Send(peer, {"six"});
  ASSERT_TRUE(test::WaitFor([&] { return Text(dialog, res::IDC_ALL_UDP) == "3"; }));
  QTest::qWait(150);
  EXPECT_EQ(Rows(dialog), 2);

  QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton);
  ASSERT_FALSE(dialog.IsCapturing());
  EXPECT_EQ(Button(dialog, res::IDC_BTN_START)->text(), QStringLiteral("开始嗅探"));
  EXPECT_TRUE(dialog.GetDlgItem(res::IDC_SRC_IP)->isEnabled());
  EXPECT_TRUE(dialog.GetDlgItem(res::IDC_CB_DEVICE)->isEnabled());

  // Start again: the group counters start from zero, the totals carry on.
  QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton);
  ASSERT_TRUE(dialog.IsCapturing());
  Send(peer, {"seven"});
  ASSERT_TRUE(test::WaitFor([&] { return Text(dialog, res::IDC_ALL_UDP) == "4"; }));
  EXPECT_EQ(Text(dialog, res::IDC_SRC_UDP), QStringLiteral("1"));
  EXPECT_EQ(Text(dialog, res::IDC_DST_UDP), QStringLiteral("1"));

  // Closing during a capture stops and joins the capture thread first.
  dialog.close();
  EXPECT_FALSE(dialog.IsCapturing());
  EXPECT_FALSE(dialog.isVisible());
}

std::uint64_t PacketsInConversations(const CCaptureDlg& dialog) {
  std::uint64_t packets = 0;
  dialog.Conversations().ForEach([&](ConversationId, const Conversation& c) { packets += c.Packets(); });
  return packets;
}

std::uint64_t CountedPackets(CCaptureDlg& dialog) {
  std::uint64_t counted = 0;
  for (int id : {res::IDC_ALL_TCP, res::IDC_ALL_UDP, res::IDC_ALL_ICMP, res::IDC_ALL_OTHER})
    counted += Text(dialog, id).toULongLong();
  return counted;
}

// Without the right to capture, through the helper beside the program (a
// link to the built one where an installed layout would have it); the helper
// killed mid-capture shows as the capture stopped, with one receive failure,
// and the next Start captures again.
TEST(DialogCapture, ThroughTheSocketHelperAndItsDeath) {
  if (!InChild()) {
    if (!test::CanCapture()) GTEST_SKIP() << "needs root: captures and network namespaces";
    return ExpectPassedInChild(kFreshNetwork);
  }
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  const std::filesystem::path beside = self.parent_path().parent_path() / "libexec/orvanel/orvanel-socket";
  std::filesystem::create_directories(beside.parent_path());
  std::filesystem::remove(beside);
  std::filesystem::create_symlink(ORVANEL_HELPER_PATH, beside);
  ASSERT_TRUE(test::DropNetRawOnThisThread());  // root runs the helper with its rights all the same
  CCaptureDlg dialog;
  LoopbackPeer peer;
  ASSERT_TRUE(StartListingLoopbackUdp(dialog));
  Send(peer, {"one"});
  ASSERT_TRUE(test::WaitFor([&] { return Payloads(dialog) == QStringList{"one"}; }))
      << Payloads(dialog).join(',').toStdString();
  // The helper's counted packets reach the conversations, each once.
  ASSERT_TRUE(test::WaitFor([&] { return CountedPackets(dialog) > 0; }));
  EXPECT_EQ(PacketsInConversations(dialog), CountedPackets(dialog));
  std::ifstream children("/proc/self/task/" + std::to_string(getpid()) + "/children");
  pid_t helper = 0;
  ASSERT_TRUE(children >> helper);
  ASSERT_EQ(kill(helper, SIGKILL), 0);
  ASSERT_TRUE(test::WaitFor([&] { return !dialog.IsCapturing(); }));
  EXPECT_EQ(Button(dialog, res::IDC_BTN_START)->text(), QStringLiteral("开始嗅探"));
  EXPECT_EQ(Text(dialog, res::IDC_ERROR), QStringLiteral("1"));
  EXPECT_EQ(dialog.GetDlgItem(res::IDC_ERROR)->toolTip(), QStringLiteral("接收失败 1，内核丢弃 0，未列出 0，未保存 0"));
  QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton);
  ASSERT_TRUE(dialog.IsCapturing());
  Send(peer, {"two"});
  ASSERT_TRUE(test::WaitFor([&] { return Payloads(dialog) == QStringList({"two", "one"}); }));
  dialog.close();
  std::filesystem::remove(beside);
}

// The values a details window shows under a label, in tree order.
QStringList DetailValues(const PacketDetailsWindow& window, const QString& label) {
  QStringList values;
  for (QTreeWidgetItemIterator item(window.Fields()); *item; ++item) {
    if ((*item)->text(0) == label) values << (*item)->text(1);
  }
  return values;
}

TEST(DialogCapture, EnterOnASelectedRowOfTheTableOpensItsDetailsAndNowhereElse) {
  if (!InChild()) {
    if (!test::CanCapture()) GTEST_SKIP() << "needs root: captures and network namespaces";
    return ExpectPassedInChild(kFreshNetwork);
  }
  CCaptureDlg dialog;
  dialog.show();
  ASSERT_TRUE(ChooseAddress(dialog, QStringLiteral("127.0.0.1")));
  for (int id : {res::IDC_CHK_SRC_TCP, res::IDC_CHK_SRC_UDP, res::IDC_CHK_SRC_ICMP}) {
    static_cast<QCheckBox*>(dialog.GetDlgItem(id))->setChecked(true);
  }
  QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton);
  ASSERT_TRUE(dialog.IsCapturing());
  const test::UdpEndpoint udp = test::BindUdp("127.0.0.1");
  ASSERT_TRUE(test::SendUdp(udp, "127.0.0.1", udp.port, "details"));
  ASSERT_TRUE(test::SendEchoes("127.0.0.1", 1));  // a request and its reply
  ASSERT_TRUE(test::WaitFor([&] { return Rows(dialog) == 3; }));
  QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton);
  ASSERT_FALSE(dialog.IsCapturing());

  auto* table = static_cast<QTableView*>(dialog.GetDlgItem(res::IDC_LIST_PACKETS));
  const auto windows = [&] { return dialog.findChildren<PacketDetailsWindow*>(); };
  table->setFocus();
  EXPECT_FALSE(RunExpectingModal([&] { QTest::keyClick(table, Qt::Key_Return); }));
  EXPECT_TRUE(windows().empty());  // nothing selected
  EXPECT_TRUE(dialog.isVisible());

  table->selectRow(2);  // the oldest: the UDP datagram
  QTest::keyClick(table, Qt::Key_Return);
  ASSERT_EQ(windows().size(), 1);
  EXPECT_EQ(DetailValues(*windows()[0], QStringLiteral("目的端口")), QStringList{QString::number(udp.port)});
  EXPECT_EQ(DetailValues(*windows()[0], QStringLiteral("长度")), (QStringList{"15 字节", "7 字节"}));

  // With a row selected, Enter on any other control still only presses a focused push button.
  for (int id : {res::IDC_CHK_SRC_OTHER, res::IDC_SRC_IP, res::IDC_ALL_TCP, res::IDC_CB_DEVICE}) {
    QWidget* control = dialog.GetDlgItem(id);
    control->setFocus();
    EXPECT_FALSE(RunExpectingModal([&] { QTest::keyClick(control, Qt::Key_Enter); })) << id;
    EXPECT_EQ(windows().size(), 1) << id;
    EXPECT_TRUE(dialog.isVisible()) << id;
  }
  EXPECT_FALSE(static_cast<QCheckBox*>(dialog.GetDlgItem(res::IDC_CHK_SRC_OTHER))->isChecked());

  // The echo request and its reply, by a double-click.
  for (int row : {1, 0}) {
    const QPoint cell = table->visualRect(table->model()->index(row, 0)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell);  // a double-click's first press
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell);
  }
  ASSERT_EQ(windows().size(), 3);
  EXPECT_EQ(DetailValues(*windows()[1], QStringLiteral("类型")), QStringList{QStringLiteral("8（回显请求）")});
  EXPECT_EQ(DetailValues(*windows()[2], QStringLiteral("类型")), QStringList{QStringLiteral("0（回显应答）")});
  EXPECT_EQ(DetailValues(*windows()[2], QStringLiteral("协议")), QStringList{QStringLiteral("1（ICMP）")});
}

TEST(DialogCapture, EscapeDuringACaptureStopsItBeforeTheDialogGoes) {
  if (!InChild()) {
    if (!test::CanCapture()) GTEST_SKIP() << "needs root: captures and network namespaces";
    return ExpectPassedInChild(kFreshNetwork);
  }
  LoopbackPeer peer;
  for (int round = 0; round < 3; ++round) {
    auto dialog = std::make_unique<CCaptureDlg>();
    dialog->show();
    ASSERT_TRUE(ChooseAddress(*dialog, QStringLiteral("127.0.0.1")));
    static_cast<QCheckBox*>(dialog->GetDlgItem(res::IDC_CHK_SRC_UDP))->setChecked(true);
    QTest::mouseClick(Button(*dialog, res::IDC_BTN_START), Qt::LeftButton);
    ASSERT_TRUE(dialog->IsCapturing());
    // Packets keep arriving while the dialog goes away.
    for (int i = 0; i < 200; ++i) peer.Send("x");
    QTest::keyClick(dialog->GetDlgItem(res::IDC_CHK_SRC_UDP), Qt::Key_Escape);
    EXPECT_FALSE(dialog->IsCapturing());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    for (int i = 0; i < 200; ++i) peer.Send("y");
    dialog.reset();
  }
}

TEST(DialogCapture, CountersKeepRefreshingThroughAFloodOfFullSizeDatagrams) {
  if (!InChild()) {
    if (!test::CanCapture()) GTEST_SKIP() << "needs root: captures and network namespaces";
    return ExpectPassedInChild(kFreshNetwork);
  }
  CCaptureDlg dialog;
  ASSERT_TRUE(StartListingLoopbackUdp(dialog));
  // The conversation window ranks the table while the capture thread writes it.
  QTest::keyClick(&dialog, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  // Every listed row is a 1428-byte datagram; the UI thread must still get
  // back to its refresh between the rows. The flood is bounded by time alone,
  // so a fast sender floods as long as a slow one. The refresh ticks
  // themselves are timed, less the time this (the UI) thread stood ready to
  // run while other work had the processors: a loaded machine delays
  // the ticks too, but only a UI thread held up by the rows fails this.
  QElapsedTimer clock;
  clock.start();
  const auto heldMs = [&] { return clock.elapsed() - RunQueueWaitMs(); };
  std::vector<qint64> ticks;
  auto* refresh = dialog.findChild<QTimer*>(QStringLiteral("refreshTimer"));
  ASSERT_NE(refresh, nullptr);
  const QMetaObject::Connection timing =
      QObject::connect(refresh, &QTimer::timeout, [&] { ticks.push_back(heldMs()); });
  ticks.push_back(heldMs());
  long halfway = -1;
  {
    const test::LoopbackFlow flow(std::string(1400, 'f'), std::chrono::microseconds(0), std::numeric_limits<int>::max(),
                                  std::chrono::seconds(3));
    while (flow.Flowing()) {
      QTest::qWait(10);
      if (halfway < 0 && clock.elapsed() >= 1500) halfway = Text(dialog, res::IDC_ALL_UDP).toLong();
    }
    ASSERT_GT(flow.Sent(), 0);
  }
  QObject::disconnect(timing);
  ticks.push_back(heldMs());  // a stall at the end counts as well
  qint64 longestGap = 0;
  for (std::size_t i = 1; i < ticks.size(); ++i) longestGap = std::max(longestGap, ticks[i] - ticks[i - 1]);
  // The refresh runs every 100 ms.
  EXPECT_LT(longestGap, 500) << ticks.size() << " ticks";
  const QString shown = Text(dialog, res::IDC_ALL_UDP);
  EXPECT_GT(shown.toLong(), halfway);  // still counting in the second half
  // Stopped, whatever was counted is listed or counted as not listed, exactly.
  QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton);
  const QString losses = dialog.GetDlgItem(res::IDC_ERROR)->toolTip();
  const long notListed = losses.section(QStringLiteral("未列出 "), 1).section(QStringLiteral("，"), 0, 0).toLong();
  EXPECT_EQ(Rows(dialog) + notListed, Text(dialog, res::IDC_ALL_UDP).toLong()) << losses.toStdString();
  // Every counted packet is in exactly one conversation.
  EXPECT_EQ(PacketsInConversations(dialog), CountedPackets(dialog));
  dialog.close();
}

TEST(DialogCapture, RowsTheSpoolHasNoRoomForAreCountedInError) {
  if (!InChild()) {
    if (!test::CanCapture()) GTEST_SKIP() << "needs root: captures and mount and network namespaces";
    return ExpectPassedInChild(kNoRoomForRows);
  }
  CCaptureDlg dialog;
  ASSERT_TRUE(StartListingLoopbackUdp(dialog));
  LoopbackPeer peer;
  Send(peer, {"one", "two", "three"});
  ASSERT_TRUE(test::WaitFor([&] { return Text(dialog, res::IDC_ERROR) == "3"; }))
      << Text(dialog, res::IDC_ERROR).toStdString();
  EXPECT_EQ(Text(dialog, res::IDC_ALL_UDP), QStringLiteral("3"));
  EXPECT_EQ(Rows(dialog), 0);
  EXPECT_EQ(dialog.GetDlgItem(res::IDC_ERROR)->toolTip(), QStringLiteral("接收失败 0，内核丢弃 0，未列出 3，未保存 0"));
  // Clear list starts the count again, as it does the others.
  QTest::mouseClick(Button(dialog, res::IDC_BTN_CLEAR), Qt::LeftButton);
  EXPECT_EQ(Text(dialog, res::IDC_ERROR), QStringLiteral("0"));
  Send(peer, {"four"});
  ASSERT_TRUE(test::WaitFor([&] { return Text(dialog, res::IDC_ERROR) == "1"; }));
  dialog.close();
}

TEST(DialogCapture, AnInterfaceMadeAgainIsCapturedOnWithTheGapInError) {
  if (!InChild()) {
    if (!test::CanCapture()) GTEST_SKIP() << "needs root: captures and network namespaces";
    return ExpectPassedInChild(kFreshNetwork);
  }
  test::VethToPeer veth("orvui", "10.87.0");
  ASSERT_TRUE(veth.ok);
  const test::UdpEndpoint server = test::BindUdp(veth.local);
  CCaptureDlg dialog;
  dialog.show();
  ASSERT_TRUE(ChooseAddress(dialog, QString::fromStdString(veth.local)));
  // The filters are the chosen address: the peer's datagrams match the destination.
  static_cast<QCheckBox*>(dialog.GetDlgItem(res::IDC_CHK_DST_UDP))->setChecked(true);
  QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton);
  ASSERT_TRUE(dialog.IsCapturing());
  ASSERT_TRUE(veth.SendFromPeer(veth.remote, veth.local, server.port, 2));
  ASSERT_TRUE(test::WaitFor([&] { return Text(dialog, res::IDC_ALL_UDP) == "2"; }));

  const auto tip = [&] { return dialog.GetDlgItem(res::IDC_ERROR)->toolTip(); };
  ASSERT_TRUE(test::RunCommand("ip link del " + veth.here));
  ASSERT_TRUE(test::WaitFor([&] { return tip().endsWith(QStringLiteral("\n接口中断 1 次")); })) << tip().toStdString();
  ASSERT_TRUE(veth.Recreate());
  EXPECT_TRUE(test::WaitFor([&] {
    EXPECT_TRUE(veth.SendFromPeer(veth.remote, veth.local, server.port, 1));
    QTest::qWait(20);
    return Text(dialog, res::IDC_ALL_UDP).toInt() > 2;
  }));
  QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton);  // Stop
  ASSERT_FALSE(dialog.IsCapturing());
  // The list goes on from before the gap: every counted datagram is a row.
  EXPECT_EQ(Rows(dialog), Text(dialog, res::IDC_ALL_UDP).toInt());
  // ERROR counts the gap once, beside at most the one failure of the link going down.
  const QString failures = Text(dialog, res::IDC_ERROR) == "1" ? "0" : "1";
  EXPECT_EQ(Text(dialog, res::IDC_ERROR).toInt(), failures.toInt() + 1);
  EXPECT_EQ(tip(), QStringLiteral("接收失败 %1，内核丢弃 0，未列出 0，未保存 0\n接口中断 1 次").arg(failures));
  // Kept after Stop until Clear list.
  QTest::mouseClick(Button(dialog, res::IDC_BTN_CLEAR), Qt::LeftButton);
  EXPECT_EQ(tip(), QStringLiteral("接收失败 0，内核丢弃 0，未列出 0，未保存 0"));
  dialog.close();
}

// The last-packet files and a save that find the file system full say so,
// with the system's reason, and leave no file behind.
TEST(DialogCapture, AFullFileSystemIsCountedInErrorAndSaidBySave) {
  if (!InChild()) {
    if (!test::CanCapture()) GTEST_SKIP() << "needs root: captures and mount and network namespaces";
    return ExpectPassedInChild(kFullWorkingDirectory);
  }
  CCaptureDlg dialog;
  static_cast<QCheckBox*>(dialog.GetDlgItem(res::IDC_CHK_SAVE_LAST))->setChecked(true);
  ASSERT_TRUE(StartListingLoopbackUdp(dialog));
  LoopbackPeer peer;
  Send(peer, {"one", "two"});
  ASSERT_TRUE(test::WaitFor([&] { return Text(dialog, res::IDC_ERROR) == "2"; }))
      << Text(dialog, res::IDC_ERROR).toStdString();
  EXPECT_EQ(Rows(dialog), 2);
  const QString noSpace = QString::fromLocal8Bit(std::strerror(ENOSPC));
  EXPECT_EQ(dialog.GetDlgItem(res::IDC_ERROR)->toolTip(),
            QStringLiteral("接收失败 0，内核丢弃 0，未列出 0，未保存 2\nbuf_UDP.txt：") + noSpace);
  QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton);
  EXPECT_EQ(dialog.SaveList(QStringLiteral("/mnt/list.pcapng")), noSpace);
  EXPECT_EQ(QDir(QStringLiteral("/mnt")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"fill"});
  dialog.close();
}

TEST(DialogCapture, ClosedDuringAFloodTheProgramExitsPromptly) {
  if (!test::CanCapture()) GTEST_SKIP() << "needs root: captures and network namespaces";
  // The program's own main, its dialog driven from inside (flood_close_driver.cpp).
  QStringList arguments = kFreshNetwork;
  arguments << QStringLiteral(ORVANEL_FLOOD_CLOSE_PROGRAM);
  QProcess program;
  program.setProcessChannelMode(QProcess::MergedChannels);
  program.start(arguments.takeFirst(), arguments);
  ASSERT_TRUE(program.waitForStarted());
  test::ChildResult child;
  QElapsedTimer sinceStart;
  sinceStart.start();
  while (!child.output.contains(QStringLiteral("@@closing=")) && program.state() == QProcess::Running &&
         sinceStart.elapsed() < 60000) {
    program.waitForReadyRead(100);
    child.output += QString::fromUtf8(program.readAll());
  }
  // A hang guard, not a timing: the close, the end of the modal run and the exit.
  // (waitForFinished is false for a process already seen to end.)
  const bool ended = program.state() == QProcess::NotRunning || program.waitForFinished(5000);
  if (!ended) {
    program.kill();
    program.waitForFinished();
  }
  child.output += QString::fromUtf8(program.readAll());
  child.normalExit = program.exitStatus() == QProcess::NormalExit;
  child.exitCode = program.exitCode();

  ASSERT_EQ(test::ReportedValue(child, "capturing"), QStringLiteral("yes")) << child.output.toStdString();
  ASSERT_EQ(test::ReportedValue(child, "closing"), QStringLiteral("now")) << child.output.toStdString();
  EXPECT_GE(test::ReportedValue(child, "rows").toInt(), 1000) << child.output.toStdString();
  EXPECT_EQ(test::ReportedValue(child, "flowing"), QStringLiteral("yes"));  // closed during the flood, not after
  EXPECT_TRUE(ended) << "still running 5 s after the close\n" << child.output.toStdString();
  EXPECT_TRUE(child.normalExit) << child.output.toStdString();
  EXPECT_EQ(child.exitCode, 0) << child.output.toStdString();
}

TEST(DialogCapture, SocketCreationFailureWithoutTheRightToCapture) {
  if (!InChild() && !test::CanCapture()) GTEST_SKIP() << "needs root: captures and network namespaces";
  if (!InChild()) {
    const test::ChildResult child =
        RunTestInChild(QStringLiteral("DialogCapture.SocketCreationFailureWithoutTheRightToCapture"), kNoCaptureRight);
    EXPECT_TRUE(child.normalExit) << child.output.toStdString();
    EXPECT_EQ(child.exitCode, 0) << child.output.toStdString();
    EXPECT_EQ(test::ReportedValue(child, "message"), QStringLiteral("套接字创建错误，程序将终止运行。"));
    EXPECT_EQ(test::ReportedValue(child, "title"), QStringLiteral("Orvanel"));
    EXPECT_EQ(test::ReportedValue(child, "buttons"), QStringLiteral("确定"));
    EXPECT_FALSE(child.output.contains(QStringLiteral("after the box")));
    return;
  }
  CCaptureDlg dialog;
  dialog.show();
  ASSERT_TRUE(ChooseAddress(dialog, QStringLiteral("127.0.0.1")));
  RunExpectingModal([&] { QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton); },
                    [](QWidget& box) {
                      auto& message = static_cast<QMessageBox&>(box);
                      test::ReportToParent(QStringLiteral("message"), message.text());
                      test::ReportToParent(QStringLiteral("title"), message.windowTitle());
                      QStringList buttons;
                      for (QAbstractButton* button : message.buttons()) buttons << button->text();
                      test::ReportToParent(QStringLiteral("buttons"), buttons.join(QLatin1Char(',')));
                      QTest::keyClick(&box, Qt::Key_Return);
                    });
  std::puts("after the box");  // never reached: the process ends when the box closes
}

TEST(DialogCapture, HostNameFailureEndsTheProgramAtStartUp) {
  if (!InChild() && !test::CanCapture()) GTEST_SKIP() << "needs root: captures and network namespaces";
  if (!InChild()) {
    const test::ChildResult child =
        RunTestInChild(QStringLiteral("DialogCapture.HostNameFailureEndsTheProgramAtStartUp"));
    EXPECT_TRUE(child.normalExit) << child.output.toStdString();
    EXPECT_EQ(child.exitCode, 0) << child.output.toStdString();
    EXPECT_EQ(test::ReportedValue(child, "message"), QStringLiteral("获取本机名称错误\t\n\n程序将终止运行\t"));
    EXPECT_FALSE(child.output.contains(QStringLiteral("after the box")));
    return;
  }
  HostQueries failing = SystemHostQueries();
  failing.hostName = [] { return std::optional<std::string>(); };
  CCaptureDlg dialog(nullptr, failing);
  RunExpectingModal([&] { dialog.show(); },
                    [](QWidget& box) {
                      test::ReportToParent(QStringLiteral("message"), static_cast<QMessageBox&>(box).text());
                      QTest::keyClick(&box, Qt::Key_Return);
                    });
  std::puts("after the box");
}

}  // namespace
}  // namespace orvanel
