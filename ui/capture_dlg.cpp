#include "ui/capture_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QShortcut>
#include <QUrl>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "net/local_addresses.h"
#include "res/resource.h"
#include "res/strings.h"
#include "session/list_save.h"
#include "ui/about_dlg.h"
#include "ui/capture_file_text.h"
#include "ui/conversation_window.h"
#include "ui/details_from_table.h"
#include "ui/find_window.h"
#include "ui/list_style.h"
#include "ui/message_box.h"
#include "ui/optional_columns.h"
#include "ui/packet_list_view.h"
#include "ui/packet_model.h"
#include "ui/recent_files.h"
#include "ui/row_menu.h"
#include "ui/save_progress.h"
#include "ui/window_icon.h"

namespace orvanel {
namespace {

constexpr int kRefreshMilliseconds = 100;
// A read shorter than this shows no progress window.
constexpr int kProgressAfterMilliseconds = 500;
constexpr int kProgressSteps = 1000;
constexpr int kScMinimize = 0xF020;
constexpr int kScClose = 0xF060;

// The box of each counter, by group (All first) and protocol class.
constexpr PerGroupAndClass<int> kCounterIds = {{
    {res::IDC_ALL_TCP, res::IDC_ALL_UDP, res::IDC_ALL_ICMP, res::IDC_ALL_OTHER},
    {res::IDC_SRC_TCP, res::IDC_SRC_UDP, res::IDC_SRC_ICMP, res::IDC_SRC_OTHER},
    {res::IDC_DST_TCP, res::IDC_DST_UDP, res::IDC_DST_ICMP, res::IDC_DST_OTHER},
    {res::IDC_OTH_TCP, res::IDC_OTH_UDP, res::IDC_OTH_ICMP, res::IDC_OTH_OTHER},
}};

const QString kIdleCaption = QStringLiteral("开始嗅探");
const QString kCapturingCaption = QStringLiteral("停止嗅探");

QString StartFailureText(StartResult result) {
  switch (result) {
    case StartResult::SocketCreationFailed: return QStringLiteral("套接字创建错误，程序将终止运行。");
    case StartResult::AddressListFailed: return QStringLiteral("获取本地网络设备错误\t\n\n程序将终止运行\t");
    case StartResult::AddressListEmpty: return QStringLiteral("没有检测到可用的网络连接\t\r\n\r\n程序将终止运行\t");
    case StartResult::NoAddressChosen: return QStringLiteral("请选择网络设备地址\t\n");
    case StartResult::BindFailed: return QStringLiteral("绑定网络设备错误\t\n\n程序将终止运行\t");
    case StartResult::ReceiveModeFailed: return QStringLiteral("设置接收模式错误\t\n\n程序将终止运行\t");
    case StartResult::TooManyCaptures: return QStringLiteral("本用户已有 4 个抓包在运行，请先停止其中一个\t\n");
    case StartResult::Started: break;
  }
  return {};
}

// The directory the last-packet files go to, of any length.
std::string CurrentDirectory() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::current_path(error);
  // "." still names the current directory if its name cannot be read.
  return error ? std::string(".") : path.string();
}

QStringList LocalFiles(const QMimeData* data) {
  QStringList files;
  if (!data) return files;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) files.append(url.toLocalFile());
  }
  return files;
}

template <typename Widget>
Widget* Control(const DialogControls& controls, int id) {
  return static_cast<Widget*>(controls.Item(id));
}

}  // namespace

CCaptureDlg::CCaptureDlg(QWidget* parent, HostQueries queries)
    : QDialog(parent),
      m_queries(std::move(queries)),
      m_controls(BuildDialog(*this, res::CaptureDialogTemplate())),
      m_cbDevice(Control<QComboBox>(m_controls, res::IDC_CB_DEVICE)),
      m_chkSaveLast(Control<QCheckBox>(m_controls, res::IDC_CHK_SAVE_LAST)),
      m_chkSrcUDP(Control<QCheckBox>(m_controls, res::IDC_CHK_SRC_UDP)),
      m_chkSrcTCP(Control<QCheckBox>(m_controls, res::IDC_CHK_SRC_TCP)),
      m_chkSrcOTHER(Control<QCheckBox>(m_controls, res::IDC_CHK_SRC_OTHER)),
      m_chkSrcICMP(Control<QCheckBox>(m_controls, res::IDC_CHK_SRC_ICMP)),
      m_chkOthUDP(Control<QCheckBox>(m_controls, res::IDC_CHK_OTH_UDP)),
      m_chkOthTCP(Control<QCheckBox>(m_controls, res::IDC_CHK_OTH_TCP)),
      m_chkOthICMP(Control<QCheckBox>(m_controls, res::IDC_CHK_OTH_ICMP)),
      m_chkOthOTHER(Control<QCheckBox>(m_controls, res::IDC_CHK_OTH_OTHER)),
      m_chkDstUDP(Control<QCheckBox>(m_controls, res::IDC_CHK_DST_UDP)),
      m_chkDstTCP(Control<QCheckBox>(m_controls, res::IDC_CHK_DST_TCP)),
      m_chkDstOTHER(Control<QCheckBox>(m_controls, res::IDC_CHK_DST_OTHER)),
      m_chkDstICMP(Control<QCheckBox>(m_controls, res::IDC_CHK_DST_ICMP)),
      m_chkSrcIP(Control<QCheckBox>(m_controls, res::IDC_CHK_SRC_IP)),
      m_chkDstIP(Control<QCheckBox>(m_controls, res::IDC_CHK_DST_IP)),
      m_chkOther(Control<QCheckBox>(m_controls, res::IDC_CHK_OTHER)),
      m_edDstIP(Control<QLineEdit>(m_controls, res::IDC_DST_IP)),
      m_edSrcIP(Control<QLineEdit>(m_controls, res::IDC_SRC_IP)),
      m_lcPackets(Control<PacketListView>(m_controls, res::IDC_LIST_PACKETS)),
      m_btnStart(Control<QPushButton>(m_controls, res::IDC_BTN_START)),
      m_hIcon(ProgramIcon()),
      m_openAction(new QAction(QStringLiteral("打开捕获文件(&O)..."), this)),
      m_conversationsAction(new QAction(QStringLiteral("会话统计(&C)..."), this)),
      m_recentFiles(new RecentFiles(*m_openAction, this)),
      m_spool(RowSpool::CreateInCacheDirectory()),
      m_packets(new PacketModel(m_spool, this)) {
  m_lcPackets->SetPackets(*m_packets);
  m_lcPackets->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_lcPackets->setSelectionMode(QAbstractItemView::SingleSelection);
  m_lcPackets->setWordWrap(false);
  OpenDetailsFromTable(*m_lcPackets);
  m_lcPackets->SetDatagramProgram([this](std::span<const std::uint8_t> datagram) {
    const ListedRow row = ListedRowOf(datagram, 0);
    const auto program =
        datagram.size() > 9 ? m_programs.ProgramOfKey(ConversationKeyOf(datagram[9], row)) : std::nullopt;
    return program ? QString::fromStdString(ProgramText(*program)) : QString();
  });
  AddRowMenu(*m_lcPackets, [this]() -> FindWindow& { return Finder(); });
  m_refreshTimer.setObjectName(QStringLiteral("refreshTimer"));
  m_refreshTimer.setInterval(kRefreshMilliseconds);
  connect(&m_refreshTimer, &QTimer::timeout, this, &CCaptureDlg::RefreshCounters);
  connect(m_btnStart, &QPushButton::clicked, this, &CCaptureDlg::OnStartStop);
  connect(Control<QPushButton>(m_controls, res::IDC_BTN_CLEAR), &QPushButton::clicked, this, &CCaptureDlg::ClearList);
  connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
          [this] { OnSysCommand(res::IDM_ABOUTBOX); });
  m_openAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  addAction(m_openAction);  // Ctrl+O without the menu
  connect(m_openAction, &QAction::triggered, this, &CCaptureDlg::OnOpenFiles);
  m_conversationsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
  addAction(m_conversationsAction);
  connect(m_conversationsAction, &QAction::triggered, this, &CCaptureDlg::ShowConversations);
  connect(m_recentFiles, &RecentFiles::chosen, this, [this](const QString& file) { OpenCaptureFiles({file}); });
  setAcceptDrops(true);
  connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, [this] { Finder().Open(); });
  // F3 also from the find window.
  for (const bool up : {false, true}) {
    auto* shortcut = new QShortcut(up ? QKeySequence::FindPrevious : QKeySequence::FindNext, this);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, up] {
      if (Finder().What().text().isEmpty()) return Finder().Open();
      Finder().FindNext(up);
    });
  }
  MirrorCheckBoxes();
}

CCaptureDlg::~CCaptureDlg() { StopCapture(); }

QWidget* CCaptureDlg::GetDlgItem(int id) const { return m_controls.Item(id); }

bool CCaptureDlg::IsCapturing() const { return m_session && m_session->IsCapturing(); }

bool CCaptureDlg::IsReading() const { return m_reading && m_reading->IsReading(); }

std::uint64_t CCaptureDlg::KernelDrops() const { return m_losses ? m_losses->KernelDrops() : 0; }

bool CCaptureDlg::UpdateData(bool saveAndValidate) {
  DataExchange dx(saveAndValidate);
  DoDataExchange(dx);
  return dx.Ok();
}

void CCaptureDlg::DoDataExchange(DataExchange& dx) {
  const auto edit = [this](int id) -> QLineEdit& { return *Control<QLineEdit>(m_controls, id); };
  for (int group = 0; group < kTrafficGroupCount; ++group) {
    for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
      dx.Text(edit(kCounterIds[group][protocol]), m_counts[group][protocol]);
    }
  }
  dx.Text(edit(res::IDC_ERROR), m_nError);
  dx.Text(*m_edSrcIP, m_strSrcIP);
  dx.Text(*m_edDstIP, m_strDstIP);
}

void CCaptureDlg::setVisible(bool visible) {
  if (visible && !m_initialised) {
    m_initialised = true;
    OnInitDialog();
  }
  QDialog::setVisible(visible);
}

void CCaptureDlg::OnInitDialog() {
  UpdateData(false);
  BuildSystemMenu();
  setWindowIcon(m_hIcon);
  SetPacketColumns(*m_lcPackets);
  AddOptionalColumns(*m_lcPackets);
  SetExtendedListStyle(*m_lcPackets, res::kPacketListExtendedStyle);
  m_chkSrcIP->setChecked(true);
  m_chkDstIP->setChecked(true);
  m_chkOther->setChecked(true);
  m_counters.ZeroTotals();
  const std::string dumpDirectory = CurrentDirectory();
  m_session = std::make_unique<CaptureSession>(m_counters, m_options, *m_spool, dumpDirectory, &m_conversations,
                                               &m_saveFailures);
  m_losses = std::make_unique<CaptureLosses>(
      *m_session, [this] { return m_spool->RowsNotListed(); }, m_saveFailures);
  m_reading =
      std::make_unique<FileReading>(m_counters, m_options, *m_spool, dumpDirectory, &m_conversations, &m_saveFailures);
  if (!m_queries.hostName()) ShowFatalMessage(this, QStringLiteral("获取本机名称错误\t\n\n程序将终止运行\t"));
  FillDeviceList();
  UpdateData(false);
  m_btnStart->setFocus(Qt::OtherFocusReason);
}

void CCaptureDlg::BuildSystemMenu() {
  m_sysMenu = new QMenu(this);
  const auto addCommand = [this](const QString& text, int id) {
    QAction* action = m_sysMenu->addAction(text);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { OnSysCommand(id); });
  };
  addCommand(QStringLiteral("最小化(&N)"), kScMinimize);
  addCommand(QStringLiteral("关闭(&C)"), kScClose);
  m_sysMenu->addSeparator();
  connect(m_sysMenu->addAction(QStringLiteral("流量图(&G)...")), &QAction::triggered, this,
          [this] { m_rateGraph.Show(); });
  m_sysMenu->addAction(m_openAction);
  m_sysMenu->addMenu(m_recentFiles->Menu());
  connect(m_sysMenu->addAction(QStringLiteral("保存列表为 pcapng(&S)...")), &QAction::triggered, this,
          &CCaptureDlg::OnSaveList);
  QAction* find = m_sysMenu->addAction(QStringLiteral("查找(&F)..."));
  connect(find, &QAction::triggered, this, [this] { Finder().Open(); });
  // Shown as Ctrl+O is; the dialog's own shortcut takes it outside the menu.
  find->setShortcut(QKeySequence::Find);
  find->setShortcutContext(Qt::WidgetShortcut);
  m_sysMenu->addAction(m_conversationsAction);
  const QString about = ToQString(res::LoadString(res::IDS_ABOUTBOX));
  if (!about.isEmpty()) addCommand(about, res::IDM_ABOUTBOX);
}

// The capture thread reads the boxes through m_options; every change is copied there at once.
void CCaptureDlg::MirrorCheckBoxes() {
  const std::pair<QCheckBox*, CaptureOption> boxes[] = {
      {m_chkSrcIP, CaptureOption::SourceEnable},      {m_chkDstIP, CaptureOption::DestinationEnable},
      {m_chkOther, CaptureOption::OtherEnable},       {m_chkSrcTCP, CaptureOption::SourceTCP},
      {m_chkSrcUDP, CaptureOption::SourceUDP},        {m_chkSrcICMP, CaptureOption::SourceICMP},
      {m_chkDstTCP, CaptureOption::DestinationTCP},   {m_chkDstUDP, CaptureOption::DestinationUDP},
      {m_chkDstICMP, CaptureOption::DestinationICMP}, {m_chkOthTCP, CaptureOption::OtherTCP},
      {m_chkOthUDP, CaptureOption::OtherUDP},         {m_chkOthICMP, CaptureOption::OtherICMP},
      {m_chkSaveLast, CaptureOption::SaveLast},
  };
  for (const auto& [box, option] : boxes) {
    const auto mirror = [this, box = box, option = option] {
      // The capture loop expects 0 unchecked, 1 checked, 2 indeterminate.
      const Qt::CheckState state = box->checkState();
      m_options.Set(option, state == Qt::Checked ? kChecked : state == Qt::PartiallyChecked ? 2 : kUnchecked);
    };
    connect(box, &QCheckBox::stateChanged, this, mirror);
    mirror();
  }
}

void CCaptureDlg::FillDeviceList() {
  const std::vector<std::string> addresses = m_queries.addresses().value_or(std::vector<std::string>{});
  for (const std::string& address : addresses) m_cbDevice->addItem(QString::fromStdString(address));
  m_cbDevice->setCurrentIndex(-1);
  connect(m_cbDevice, &QComboBox::currentIndexChanged, this, &CCaptureDlg::OnSelchangeDevice);
  if (!addresses.empty()) {
    m_strSrcIP = QString::fromStdString(addresses.front());
    m_strDstIP = m_strSrcIP;
  }
}

void CCaptureDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter presses the push button that has the focus, and ends nothing.
    if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CCaptureDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (m_sysMenu) m_sysMenu->exec(event->globalPos());
}

void CCaptureDlg::OnSysCommand(int id) {
  if ((id & 0xFFF0) == res::IDM_ABOUTBOX) {
    CAboutDlg about(this);
    about.exec();
  } else if (id == kScMinimize) {
    showMinimized();
  } else if (id == kScClose) {
    close();
  }
}

void CCaptureDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (!IsCapturing() && !IsReading() && !LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CCaptureDlg::dropEvent(QDropEvent* event) {
  const QStringList files = LocalFiles(event->mimeData());
  if (files.isEmpty()) return;
  event->acceptProposedAction();
  // Once the drop is over, so that a message box does not hold up the drag's source.
  QTimer::singleShot(0, this, [this, files] { OpenCaptureFiles(files); });
}

void CCaptureDlg::done(int result) {
  StopCapture();
  if (m_reading) m_reading->Cancel();
  EndReading(false);
  QDialog::done(result);
}

void CCaptureDlg::OnStartStop() {
  if (IsCapturing()) {
    StopCapture();
  } else {
    StartCapture();
  }
}

void CCaptureDlg::StartCapture() {
  UpdateData(true);
  const QString chosen = m_cbDevice->currentIndex() >= 0 ? m_cbDevice->currentText() : QString();
  const std::int64_t startNs =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  // The messages stay fixed whatever errno says; orvanel-cli gives the cause.
  const StartResult result =
      m_session->StartCapture(chosen.toStdString(), m_strSrcIP.toStdString(), m_strDstIP.toStdString()).result;
  // Mended by choosing, or by stopping another capture: not fatal.
  if (result == StartResult::NoAddressChosen || result == StartResult::TooManyCaptures) {
    ShowMessage(this, StartFailureText(result));
    return;
  }
  if (result != StartResult::Started) ShowFatalMessage(this, StartFailureText(result));
  m_programs.Stop();
  m_programs.Watch(LocalAddressValues(), startNs);
  m_programs.Start();
  EnableSettings(false);
  m_openAction->setEnabled(false);
  m_btnStart->setText(kCapturingCaption);
  m_refreshTimer.start();
}

void CCaptureDlg::StopCapture() {
  if (!IsCapturing()) return;
  m_session->StopCapture();
  m_programs.Stop();
  m_losses->CaptureStopped();
  m_btnStart->setText(kIdleCaption);
  m_refreshTimer.stop();
  m_rateGraph.Interrupt();
  EnableSettings(true);
  m_openAction->setEnabled(true);
  m_conversations.FinishClear();
  ShowFinalCounts();
}

// The loop has left: what it counted last shows now, not at a next tick.
void CCaptureDlg::ShowFinalCounts() {
  TakeRows();
  CopyCounters(m_counters.Snapshot());
  UpdateData(false);
}

void CCaptureDlg::EnableSettings(bool enable) {
  m_edSrcIP->setEnabled(enable);
  m_edDstIP->setEnabled(enable);
  m_cbDevice->setEnabled(enable);
}

void CCaptureDlg::CopyCounters(const CounterSnapshot& counters) {
  m_counts = counters.counts;
  // Losses show in ERROR: failed receives, the kernel's drops when the ring
  // was full, rows the spool had no room for, packets the last-packet files
  // could not take, the times the interface went away (a gap of unknown size,
  // on a line of its own), and packets that did not reach the conversations
  // from the socket helper (named only when there are some, as only a flood
  // through the helper has them).
  // Before the dialog's initialisation nothing was captured, so only the counters count.
  const Losses losses = m_losses ? m_losses->Read(counters.receiveErrors) : Losses{counters.receiveErrors};
  m_nError = losses.Total();
  QString breakdown = QStringLiteral("接收失败 %1，内核丢弃 %2，未列出 %3，未保存 %4")
                          .arg(losses.receiveFailures)
                          .arg(losses.kernelDrops)
                          .arg(losses.notListed)
                          .arg(losses.notSaved);
  if (losses.notInConversations > 0) breakdown += QStringLiteral("，未入会话 %1").arg(losses.notInConversations);
  if (losses.interfaceInterruptions > 0) {
    breakdown += QStringLiteral("\n接口中断 %1 次").arg(losses.interfaceInterruptions);
  }
  const std::optional<SaveFailure> saveFailure = m_saveFailures.First();
  if (losses.notSaved > 0 && saveFailure) {
    breakdown +=
        QStringLiteral("\n%1：%2")
            .arg(QString::fromLatin1(saveFailure->file), QString::fromLocal8Bit(std::strerror(saveFailure->error)));
  }
  GetDlgItem(res::IDC_ERROR)->setToolTip(breakdown);
}

// One bounded step per tick, whatever the packet rate: the rows the spool took
// since the last tick are shown in one insert, then the counters, read once
// for the edits and the rate graph alike.
void CCaptureDlg::RefreshCounters() {
  // Only a capture through the socket helper ends by itself (the helper
  // crashed or was killed): it shows as stopped, its receive failure in ERROR.
  if (IsCapturing() && m_session->LoopEnded()) {
    StopCapture();
    return;
  }
  TakeRows();
  const CounterSnapshot counters = m_counters.Snapshot();
  CopyCounters(counters);
  UpdateData(false);
  m_rateGraph.Read(counters);
  if (IsReading() && m_reading->TotalBytes() > 0) {
    m_progress->setValue(static_cast<int>(m_reading->BytesRead() * kProgressSteps / m_reading->TotalBytes()));
  }
}

void CCaptureDlg::TakeRows() { m_packets->TakeRows(); }

void CCaptureDlg::ClearList() {
  UpdateData(true);
  m_packets->Clear();
  m_conversations.Clear();
  if (!IsCapturing() && !IsReading()) m_conversations.FinishClear();
  if (m_conversationWindow) m_conversationWindow->Clear();
  m_counters.ZeroAllCounters();
  if (m_losses) m_losses->Clear();
  m_rateGraph.Clear();
  CopyCounters(m_counters.Snapshot());
  UpdateData(false);
}

std::optional<QString> CCaptureDlg::SaveList(const QString& path) const {
  ListSave save(m_packets->Rows(), m_packets->Filter(), m_packets->ShownRows(), QFile::encodeName(path).toStdString());
  save.Wait();
  return SaveFailureText(save.Error());
}

// The rows shown, all of them or the filter's matches, saved while the dialog goes on.
void CCaptureDlg::OnSaveList() {
  if (m_saveProgress) {
    m_saveProgress->raise();
    return;
  }
  const QString name = QDateTime::currentDateTime().toString(QStringLiteral("'orvanel-'yyyyMMdd-HHmmss'.pcapng'"));
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存列表为 pcapng"), name,
                                                    QStringLiteral("pcapng (*.pcapng)"));
  if (path.isEmpty() || m_saveProgress) return;
  m_saveProgress =
      new SaveProgress(std::make_unique<ListSave>(m_packets->Rows(), m_packets->Filter(), m_packets->ShownRows(),
                                                  QFile::encodeName(path).toStdString()),
                       this);
  connect(m_saveProgress, &SaveProgress::failed, this,
          [this](const QString& why) { ShowMessage(this, QStringLiteral("保存失败：%1").arg(why)); });
}

FindWindow& CCaptureDlg::Finder() {
  if (!m_findWindow) m_findWindow = new FindWindow(*m_lcPackets, this);
  return *m_findWindow;
}

void CCaptureDlg::ShowConversations() {
  if (!m_conversationWindow) {
    m_conversationWindow = std::make_unique<ConversationWindow>(
        m_conversations, [this](ConversationId id) { return m_programs.ProgramOf(id); },
        [this](const QString& expression) { Finder().ShowOnlyMatching(expression); }, this);
  }
  m_conversationWindow->show();
  m_conversationWindow->raise();
  m_conversationWindow->activateWindow();
}

void CCaptureDlg::OnOpenFiles() {
  OpenCaptureFiles(QFileDialog::getOpenFileNames(this, QStringLiteral("打开捕获文件"), QString(), CaptureFileFilter()));
}

void CCaptureDlg::OpenCaptureFiles(const QStringList& files) {
  if (files.isEmpty() || !m_reading || IsCapturing() || IsReading()) return;
  UpdateData(true);
  std::vector<std::string> names;
  for (const QString& file : files) names.push_back(QFile::encodeName(file).toStdString());
  // The reading thread's end is taken up on this thread.
  const auto ended = [this] {
    QMetaObject::invokeMethod(
        this, [this] { EndReading(true); }, Qt::QueuedConnection);
  };
  if (const auto failure = m_reading->Start(names, m_strSrcIP.toStdString(), m_strDstIP.toStdString(), ended)) {
    ShowMessage(this, CaptureFileMessage(*failure));
    return;
  }
  m_recentFiles->Add(files);
  EnableSettings(false);
  m_btnStart->setEnabled(false);
  m_openAction->setEnabled(false);
  ShowReadingProgress(files);
  m_refreshTimer.start();
}

void CCaptureDlg::ShowReadingProgress(const QStringList& files) {
  if (!m_progress) {
    m_progress = new QProgressDialog(this);
    m_progress->setWindowTitle(QStringLiteral("打开捕获文件"));
    m_progress->setCancelButtonText(QStringLiteral("取消"));
    m_progress->setWindowModality(Qt::NonModal);  // the dialog stays live
    m_progress->setMinimumDuration(kProgressAfterMilliseconds);
    m_progress->setAutoReset(false);
    connect(m_progress, &QProgressDialog::canceled, this, [this] { m_reading->Cancel(); });
  }
  const QString first = QFileInfo(files.front()).fileName();
  m_progress->setLabelText(files.size() == 1 ? QStringLiteral("正在读取 %1").arg(first)
                                             : QStringLiteral("正在读取 %1 等 %2 个文件").arg(first).arg(files.size()));
  // A pipe has no size: the bar only shows that reading goes on.
  m_progress->setRange(0, m_reading->TotalBytes() > 0 ? kProgressSteps : 0);
  m_progress->setValue(0);
}

// As Stop ends a capture, except that the final counts show at once.
void CCaptureDlg::EndReading(bool reportFailure) {
  if (!IsReading()) return;
  const std::optional<CaptureFileError> failure = m_reading->Finish();
  m_refreshTimer.stop();
  m_progress->reset();
  ShowFinalCounts();
  m_rateGraph.Interrupt();
  EnableSettings(true);
  m_btnStart->setEnabled(true);
  m_openAction->setEnabled(true);
  m_conversations.FinishClear();
  if (failure && reportFailure) {
    ShowMessage(this, CaptureFileMessage(*failure) + QStringLiteral("\n\n之前读到的数据包保留在计数和列表中。"));
  }
}

void CCaptureDlg::OnSelchangeDevice() {
  const QString chosen = m_cbDevice->currentIndex() >= 0 ? m_cbDevice->currentText() : QString();
  m_strSrcIP = chosen;
  m_strDstIP = chosen;
  UpdateData(false);
}

}  // namespace orvanel
