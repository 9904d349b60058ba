#include "ui/conversation_window.h"

#include <QAction>
#include <QClipboard>
#include <QCursor>
#include <QDateTime>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelection>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <unordered_map>

#include "capture/conversation_expression.h"
#include "storage/replacing_file.h"
#include "ui/conversation_model.h"
#include "ui/conversation_ranker.h"
#include "ui/conversation_texts.h"
#include "ui/message_box.h"

namespace orvanel {
namespace {

constexpr int kRefreshMilliseconds = 1000;
constexpr int kCopiedRowsAtMost = 100'000;
// Selections larger than this are not carried over a refresh.
constexpr std::size_t kKeptSelectionAtMost = 100'000;

constexpr ConversationOrder kColumnOrders[kConversationColumnCount] = {
    ConversationOrder::Protocol,  ConversationOrder::AddressA,    ConversationOrder::PortA,
    ConversationOrder::AddressB,  ConversationOrder::PortB,       ConversationOrder::PacketsAToB,
    ConversationOrder::BytesAToB, ConversationOrder::PacketsBToA, ConversationOrder::BytesBToA,
    ConversationOrder::Start,     ConversationOrder::Duration,    ConversationOrder::Program};

std::uint64_t KeyOf(ConversationId id) { return std::uint64_t{id.slot} << 32 | id.generation; }
constexpr std::uint64_t kNoKey = ~std::uint64_t{0};  // no conversation has it

// The row of each conversation in the ranking, or -1; one pass, without a
// hash for the few conversations a refresh usually looks for.
std::vector<int> RowsOf(const std::vector<ConversationId>& ranking, const std::vector<std::uint64_t>& keys) {
  std::vector<int> rows(keys.size(), -1);
  constexpr std::size_t kFew = 8;
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> where;
  if (keys.size() > kFew) {
    for (std::size_t at = 0; at < keys.size(); ++at) where[keys[at]].push_back(at);
  }
  for (std::size_t row = 0; row < ranking.size(); ++row) {
    const std::uint64_t key = KeyOf(ranking[row]);
    if (keys.size() > kFew) {
      if (const auto found = where.find(key); found != where.end()) {
        for (const std::size_t at : found->second) rows[at] = static_cast<int>(row);
      }
      continue;
    }
    for (std::size_t at = 0; at < keys.size(); ++at) {
      if (keys[at] == key) rows[at] = static_cast<int>(row);
    }
  }
  return rows;
}

QString CsvField(const QString& text) {
  if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))) return text;
  return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// Rows the table no longer holds are left out.
std::optional<QString> WriteCsv(const ConversationTable& table, const std::vector<ConversationId>& ranking,
                                const ProgramFinder& programOf, const QString& path) {
  ReplacingFile file(QFile::encodeName(path).toStdString(), 0600);  // captured traffic is other people's
  if (!file.Stream()) return QString::fromStdString(file.Error());
  QStringList line = ConversationHeadings();
  // The byte order mark lets spreadsheets read the headings as UTF-8.
  QByteArray text = "\xEF\xBB\xBF" + line.join(QLatin1Char(',')).toUtf8() + '\n';
  for (const ConversationId id : ranking) {
    const std::optional<Conversation> conversation = table.Read(id);
    if (!conversation) continue;
    line.clear();
    const auto program = programOf && id != kFoldedConversations ? programOf(id) : std::nullopt;
    for (const QString& cell : ExactConversationCells(id, *conversation, program)) line << CsvField(cell);
    text += line.join(QLatin1Char(',')).toUtf8() + '\n';
    if (text.size() >= (1 << 20)) {
      std::fwrite(text.data(), 1, static_cast<std::size_t>(text.size()), file.Stream());
      text.clear();
    }
  }
  std::fwrite(text.data(), 1, static_cast<std::size_t>(text.size()), file.Stream());
  if (const auto error = file.Commit()) return QString::fromStdString(*error);
  return std::nullopt;
}

}  // namespace

ConversationWindow::ConversationWindow(const ConversationTable& table, ProgramFinder programOf,
                                       std::function<void(const QString&)> showOnly, QWidget* parent)
    : QWidget(parent, Qt::Window),
      table_(table),
      programOf_(std::move(programOf)),
      showOnly_(std::move(showOnly)),
      model_(new ConversationModel(table, programOf_, this)),
      ranker_(new ConversationRanker(
          table, [this](std::vector<ConversationId> ranking) { Apply(std::move(ranking)); }, this)),
      narrowing_(new QLineEdit(this)),
      status_(new QLabel(this)),
      view_(new QTableView(this)) {
  setWindowTitle(QStringLiteral("会话统计"));
  connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this, &QWidget::close);
  narrowing_->setPlaceholderText(QStringLiteral("按地址、端口或程序筛选"));
  request_.programOf = programOf_;
  narrowing_->setClearButtonEnabled(true);
  connect(narrowing_, &QLineEdit::textChanged, this, [this](const QString& text) {
    request_.text = text.trimmed().toStdString();
    Refresh();
  });

  view_->setModel(model_);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setWordWrap(false);
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  // Rows of one height, so that a million of them cost no more than a few.
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setMinimumSectionSize(1);
  view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
  view_->verticalHeader()->hide();
  QHeaderView* header = view_->horizontalHeader();
  // Wide enough for its heading, a full address, a five-digit port, a local start time.
  const QStringList headings = ConversationHeadings();
  for (int column = 0; column < kConversationColumnCount; ++column) {
    const char* sample = column == kAddressAColumn || column == kAddressBColumn ? "255.255.255.255"
                         : column == kStartColumn                               ? "2026-12-31 23:59:59.999"
                         : column == kProgramColumn                             ? "systemd-resolve (4194304)"
                                                                                : "999.99 M";
    const QFontMetrics metrics = view_->fontMetrics();
    header->resizeSection(
        column,
        std::max(metrics.horizontalAdvance(QLatin1String(sample)), metrics.horizontalAdvance(headings[column])) + 16);
  }
  header->setStretchLastSection(true);
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(false);  // by total bytes, which has no column, until a click
  header->setHighlightSections(false);
  connect(header, &QHeaderView::sectionClicked, this, &ConversationWindow::SortBy);
  connect(view_, &QTableView::doubleClicked, this,
          [this](const QModelIndex& index) { ShowOnlyConversation(index.row()); });
  connect(view_, &QTableView::customContextMenuRequested, this, &ConversationWindow::ShowMenu);
  auto* copy = new QShortcut(QKeySequence::Copy, view_, nullptr, nullptr, Qt::WidgetShortcut);
  connect(copy, &QShortcut::activated, this, [this] { QGuiApplication::clipboard()->setText(SelectedText()); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(narrowing_);
  layout->addWidget(view_, 1);
  layout->addWidget(status_);
  refresh_.setInterval(kRefreshMilliseconds);
  connect(&refresh_, &QTimer::timeout, this, [this] {
    model_->CountsChanged();
    ShowStatus();
    if (!ranker_->Running()) ranker_->Request(request_);
  });
  resize(header->length() + 40, 480);
  ShowStatus();
}

ConversationWindow::~ConversationWindow() {
  if (save_.joinable()) save_.join();
  delete ranker_;  // waits for its thread, which reads the table
}

bool ConversationWindow::Ranking() const { return ranker_->Running(); }

void ConversationWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
  refresh_.start();
}

void ConversationWindow::hideEvent(QHideEvent* event) {
  refresh_.stop();
  QWidget::hideEvent(event);
}

void ConversationWindow::Refresh() { ranker_->Request(request_); }

void ConversationWindow::Clear() {
  ranker_->Forget();
  model_->SetRanking({});
  ShowStatus();
  if (isVisible()) Refresh();
}

void ConversationWindow::SortBy(int column) {
  QHeaderView* header = view_->horizontalHeader();
  const bool again = header->isSortIndicatorShown() && header->sortIndicatorSection() == column;
  // A first click puts the largest numbers (and the latest starts) on top.
  const bool text = column <= kPortBColumn || column == kProgramColumn;
  const Qt::SortOrder order =
      again ? (header->sortIndicatorOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder)
            : (text ? Qt::AscendingOrder : Qt::DescendingOrder);
  header->setSortIndicatorShown(true);
  header->setSortIndicator(column, order);
  request_.order = kColumnOrders[column];
  request_.descending = order == Qt::DescendingOrder;
  Refresh();
}

// The conversations under the pointer and selected stay where they are on
// screen and selected, wherever the new order puts them.
void ConversationWindow::Apply(std::vector<ConversationId> ranking) {
  QScrollBar* scroll = view_->verticalScrollBar();
  const int top = scroll->value();
  const QModelIndex anchor = view_->viewport()->underMouse()
                                 ? view_->indexAt(view_->viewport()->mapFromGlobal(QCursor::pos()))
                                 : view_->currentIndex();
  const auto keyAt = [this](const QModelIndex& index) {
    return index.isValid() ? KeyOf(model_->IdAt(index.row())) : kNoKey;
  };
  std::vector<std::uint64_t> keys = {keyAt(anchor), keyAt(view_->currentIndex())};  // then the selected ones
  const QItemSelection selection = view_->selectionModel()->selection();
  qsizetype selectedRows = 0;
  for (const QItemSelectionRange& range : selection) selectedRows += range.height();
  if (static_cast<std::size_t>(selectedRows) <= kKeptSelectionAtMost) {
    for (const QItemSelectionRange& range : selection) {
      for (int row = range.top(); row <= range.bottom(); ++row) keys.push_back(KeyOf(model_->IdAt(row)));
    }
  }

  model_->SetRanking(std::move(ranking));
  const std::vector<int> rows = RowsOf(model_->Ranking(), keys);
  std::vector<int> selectedNow;
  std::copy_if(rows.begin() + 2, rows.end(), std::back_inserter(selectedNow), [](int row) { return row >= 0; });
  std::sort(selectedNow.begin(), selectedNow.end());
  QItemSelection kept;
  for (std::size_t first = 0; first < selectedNow.size();) {
    std::size_t last = first;
    while (last + 1 < selectedNow.size() && selectedNow[last + 1] <= selectedNow[last] + 1) ++last;
    kept.select(model_->index(selectedNow[first], 0), model_->index(selectedNow[last], kConversationColumnCount - 1));
    first = last + 1;
  }
  view_->selectionModel()->select(kept, QItemSelectionModel::ClearAndSelect);
  if (rows[1] >= 0) view_->selectionModel()->setCurrentIndex(model_->index(rows[1], 0), QItemSelectionModel::NoUpdate);
  scroll->setValue(rows[0] >= 0 ? rows[0] - (anchor.row() - top) : top);
  ShowStatus();
}

void ConversationWindow::ShowStatus() {
  QString text = QStringLiteral("会话 %1 个").arg(table_.Held());
  if (const std::uint64_t folded = table_.FoldedCount()) {
    text += QStringLiteral("，最不活跃的 %1 个已合并到“其它会话”").arg(folded);
  }
  if (!request_.text.empty()) text += QStringLiteral("，筛选后 %1 行").arg(model_->rowCount());
  status_->setText(text);
}

void ConversationWindow::ShowOnlyConversation(int row) {
  if (row < 0 || row >= model_->rowCount() || model_->IdAt(row) == kFoldedConversations) return;
  if (const std::optional<Conversation> conversation = model_->At(row)) {
    showOnly_(QString::fromStdString(ConversationExpression(conversation->key)));
  }
}

QString ConversationWindow::SelectedText() const {
  QModelIndexList selected = view_->selectionModel()->selectedRows();
  std::sort(selected.begin(), selected.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QString text;
  for (const QModelIndex& index : selected.mid(0, kCopiedRowsAtMost)) {
    if (const std::optional<Conversation> conversation = model_->At(index.row())) {
      const auto cells =
          ExactConversationCells(model_->IdAt(index.row()), *conversation, model_->ProgramAt(index.row()));
      text += QStringList(cells.begin(), cells.end()).join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
  }
  return text;
}

std::optional<QString> ConversationWindow::SaveCsv(const QString& path) const {
  return WriteCsv(table_, model_->Ranking(), programOf_, path);
}

void ConversationWindow::ShowMenu(const QPoint& position) {
  const QModelIndex index = view_->indexAt(position);
  QMenu menu(this);
  QAction* only = menu.addAction(QStringLiteral("在列表中只显示此会话"));
  only->setEnabled(index.isValid() && model_->IdAt(index.row()) != kFoldedConversations);
  QAction* copy = menu.addAction(QStringLiteral("复制(&C)"));
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(view_->selectionModel()->hasSelection());
  menu.addSeparator();
  QAction* save = menu.addAction(QStringLiteral("保存为 CSV(&S)..."));
  save->setEnabled(!save_.joinable());
  QAction* chosen = menu.exec(view_->viewport()->mapToGlobal(position));
  if (chosen == only) ShowOnlyConversation(index.row());
  if (chosen == copy) QGuiApplication::clipboard()->setText(SelectedText());
  if (chosen == save) OnSaveCsv();
}

// Written on a thread of its own: a million rows take seconds.
void ConversationWindow::OnSaveCsv() {
  const QString name =
      QDateTime::currentDateTime().toString(QStringLiteral("'orvanel-conversations-'yyyyMMdd-HHmmss'.csv'"));
  const QString path =
      QFileDialog::getSaveFileName(this, QStringLiteral("保存为 CSV"), name, QStringLiteral("CSV (*.csv)"));
  if (path.isEmpty() || save_.joinable()) return;
  save_ = std::thread([this, path, ranking = model_->Ranking()] {
    const std::optional<QString> error = WriteCsv(table_, ranking, programOf_, path);
    QMetaObject::invokeMethod(
        this,
        [this, error] {
          save_.join();
          if (error) ShowMessage(this, QStringLiteral("保存失败：%1").arg(*error));
        },
        Qt::QueuedConnection);
  });
}

}  // namespace orvanel
