// The main dialog: address choice, filters, check boxes, counters and the
// packet table, with the start and stop of a capture.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>

#include "capture/capture_options.h"
#include "capture/conversation_table.h"
#include "capture/counters.h"
#include "session/capture_losses.h"
#include "session/capture_session.h"
#include "session/file_reading.h"
#include "session/program_attribution.h"
#include "storage/row_spool.h"
#include "ui/data_exchange.h"
#include "ui/dialog_builder.h"
#include "ui/host_queries.h"
#include "ui/rate_graph.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QMenu;
class QProgressDialog;
class QPushButton;

namespace orvanel {

class ConversationWindow;
class FindWindow;
class RecentFiles;
class SaveProgress;
class PacketModel;
class PacketListView;

class CCaptureDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CCaptureDlg(QWidget* parent = nullptr, HostQueries queries = SystemHostQueries());
  ~CCaptureDlg() override;

  // The control with that identifier, or null.
  QWidget* GetDlgItem(int id) const;
  // The menu of the dialog's background, with the About entry.
  QMenu* GetSystemMenu() const { return m_sysMenu; }
  bool IsCapturing() const;
  // Reads capture files through the capture loop as Start, the files'
  // packets, then Stop would; only while no capture runs.
  void OpenCaptureFiles(const QStringList& files);
  bool IsReading() const;
  // Who talks to whom, since the list was last cleared.
  const ConversationTable& Conversations() const { return m_conversations; }
  // Packets the kernel dropped since the list was last cleared.
  std::uint64_t KernelDrops() const;
  // The shown rows as pcapng, oldest first; an error text, or nothing.
  [[nodiscard]] std::optional<QString> SaveList(const QString& path) const;
  bool UpdateData(bool saveAndValidate);

  // The dialog initialises itself when it is first shown.
  void setVisible(bool visible) override;
  // Closing always stops a running capture first.
  void done(int result) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void DoDataExchange(DataExchange& dx);
  void OnInitDialog();
  void BuildSystemMenu();
  void MirrorCheckBoxes();
  void FillDeviceList();
  void OnSysCommand(int id);
  void OnStartStop();
  void StartCapture();
  void StopCapture();
  void RefreshCounters();
  void ClearList();
  void OnSelchangeDevice();
  void TakeRows();
  void ShowFinalCounts();
  void CopyCounters(const CounterSnapshot& counters);
  void OnSaveList();
  FindWindow& Finder();
  void ShowConversations();
  void EnableSettings(bool enable);
  void OnOpenFiles();
  void EndReading(bool reportFailure);
  void ShowReadingProgress(const QStringList& files);

  HostQueries m_queries;
  DialogControls m_controls;
  bool m_initialised = false;

  QComboBox* m_cbDevice;
  QCheckBox* m_chkSaveLast;
  QCheckBox *m_chkSrcUDP, *m_chkSrcTCP, *m_chkSrcOTHER, *m_chkSrcICMP;
  QCheckBox *m_chkOthUDP, *m_chkOthTCP, *m_chkOthICMP, *m_chkOthOTHER;
  QCheckBox *m_chkDstUDP, *m_chkDstTCP, *m_chkDstOTHER, *m_chkDstICMP;
  QCheckBox *m_chkSrcIP, *m_chkDstIP, *m_chkOther;
  QLineEdit *m_edDstIP, *m_edSrcIP;
  PacketListView* m_lcPackets;
  QPushButton* m_btnStart;
  CounterGrid m_counts{};
  int m_nError = 0;
  QString m_strSrcIP, m_strDstIP;
  QIcon m_hIcon;
  QMenu* m_sysMenu = nullptr;
  QAction* m_openAction;
  QAction* m_conversationsAction;
  RecentFiles* m_recentFiles;
  QProgressDialog* m_progress = nullptr;
  RateGraph m_rateGraph{*this};

  // Shared with the capture thread; the session goes first, joining it.
  PacketCounters m_counters;
  SaveFailures m_saveFailures;  // packets the last-packet files could not take
  AtomicCaptureOptions m_options;
  std::shared_ptr<RowSpool> m_spool;  // the list's readers may hold its rows past the dialog
  ConversationTable m_conversations;
  ProgramAttribution m_programs{m_conversations};            // reads the table: goes before it
  std::unique_ptr<ConversationWindow> m_conversationWindow;  // reads both: goes before them
  PacketModel* m_packets;
  FindWindow* m_findWindow = nullptr;     // made when first asked for
  QPointer<SaveProgress> m_saveProgress;  // while a save runs
  QTimer m_refreshTimer{this};            // a child, so it can be found by its name
  std::unique_ptr<CaptureSession> m_session;
  std::unique_ptr<CaptureLosses> m_losses;  // what ERROR counts; reads the session
  std::unique_ptr<FileReading> m_reading;
};

}  // namespace orvanel
