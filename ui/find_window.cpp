#include "ui/find_window.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStringEncoder>
#include <QVBoxLayout>
#include <algorithm>

#include "session/row_filter.h"
#include "session/row_match.h"
#include "session/row_search.h"
#include "ui/expression_field.h"
#include "ui/packet_list_view.h"
#include "ui/packet_model.h"

namespace orvanel {
namespace {

constexpr int kPollMilliseconds = 100;
constexpr int kProgressSteps = 1000;
// F3 presses kept while a search runs; a key held down stops adding there.
constexpr int kMaxPressesAhead = 100;

// The text in each encoding the payload column shows it in.
std::vector<std::string> Encodings(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  std::vector<std::string> needles{utf8.toStdString()};
  QStringEncoder gbk("GBK");
  if (gbk.isValid()) {
    const QByteArray encoded = gbk.encode(text);
    if (!gbk.hasError() && encoded != utf8) needles.push_back(encoded.toStdString());
  }
  return needles;
}

}  // namespace

FindWindow::FindWindow(PacketListView& view, QWidget* parent)
    : QDialog(parent),
      view_(view),
      field_(new ExpressionField(this)),
      what_(field_->lineEdit()),
      expression_(new QRadioButton(QStringLiteral("过滤表达式(&E)"), this)),
      payload_(new QRadioButton(QStringLiteral("数据包内容(&T)"), this)),
      up_(new QRadioButton(QStringLiteral("向上(&U)"), this)),
      down_(new QRadioButton(QStringLiteral("向下(&D)"), this)),
      onlyMatching_(new QCheckBox(QStringLiteral("只显示匹配的行"), this)),
      findNext_(new QPushButton(QStringLiteral("查找下一个(&F)"), this)),
      cancel_(new QPushButton(QStringLiteral("取消"), this)),
      status_(new QLabel(this)),
      progress_(new QProgressBar(this)) {
  setWindowTitle(QStringLiteral("查找"));
  setModal(false);
  auto* label = new QLabel(QStringLiteral("查找内容(&N):"), this);
  label->setBuddy(field_);
  what_->setPlaceholderText(QStringLiteral("udp port 53"));
  auto* kind = new QGroupBox(QStringLiteral("查找"), this);
  auto* kindLayout = new QHBoxLayout(kind);
  kindLayout->addWidget(expression_);
  kindLayout->addWidget(payload_);
  auto* direction = new QGroupBox(QStringLiteral("方向"), this);
  auto* directionLayout = new QHBoxLayout(direction);
  directionLayout->addWidget(up_);
  directionLayout->addWidget(down_);
  // Checked once in their groups: siblings of one parent exclude each other.
  expression_->setChecked(true);
  down_->setChecked(true);
  findNext_->setDefault(true);
  progress_->setRange(0, kProgressSteps);
  progress_->setTextVisible(false);
  progress_->hide();
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* grid = new QGridLayout(this);
  grid->addWidget(label, 0, 0);
  grid->addWidget(field_, 0, 1, 1, 2);
  grid->addWidget(findNext_, 0, 3);
  grid->addWidget(kind, 1, 0, 1, 2);
  grid->addWidget(direction, 1, 2);
  grid->addWidget(cancel_, 1, 3, Qt::AlignTop);
  grid->addWidget(onlyMatching_, 2, 0, 1, 4);
  grid->addWidget(progress_, 3, 0, 1, 4);
  grid->addWidget(status_, 4, 0, 1, 4);

  poll_.setInterval(kPollMilliseconds);
  connect(&poll_, &QTimer::timeout, this, &FindWindow::Poll);
  connect(findNext_, &QPushButton::clicked, this, &FindWindow::FindInChosenDirection);
  connect(cancel_, &QPushButton::clicked, this, &FindWindow::reject);
  connect(onlyMatching_, &QCheckBox::toggled, this, &FindWindow::ApplyFilter);
  connect(&view_.Packets(), &PacketModel::listChanging, this, &FindWindow::Stop);
  connect(expression_, &QRadioButton::toggled, field_, &ExpressionField::SetChecking);
}

FindWindow::~FindWindow() = default;

void FindWindow::Open() {
  if (!isVisible()) PlaceBesideList();
  show();
  raise();
  activateWindow();
  what_->setFocus(Qt::ShortcutFocusReason);
  what_->selectAll();
}

// Beside the dialog, on a side with room, so that the selected row stays in
// sight; with no room on any side, over the end of the list away from it.
void FindWindow::PlaceBesideList() {
  adjustSize();
  const QRect area = view_.screen()->availableGeometry();
  const QRect list(view_.mapToGlobal(QPoint(0, 0)), view_.size());
  const QRect dialog = view_.window()->frameGeometry();
  const QSize size = frameGeometry().size();
  const QPoint sides[] = {{dialog.right() + 1, list.top()},
                          {dialog.left() - size.width(), list.top()},
                          {list.left(), dialog.bottom() + 1},
                          {list.left(), dialog.top() - size.height()}};
  for (const QPoint& at : sides) {
    if (area.contains(QRect(at, size))) {
      move(at);
      return;
    }
  }
  const std::optional<std::uint64_t> current = view_.CurrentRow();
  const int row = current ? view_.Packets().WindowRowOf(*current) : -1;
  const int rowY = row >= 0
                       ? view_.viewport()->mapToGlobal(view_.visualRect(view_.Packets().index(row, 0)).center()).y()
                       : list.top();
  const int y = rowY < list.center().y() ? list.bottom() - size.height() : list.top();
  move(std::clamp(list.right() - size.width(), area.left(), std::max(area.left(), area.right() - size.width())),
       std::clamp(y, area.top(), std::max(area.top(), area.bottom() - size.height())));
}

std::shared_ptr<const RowMatcher> FindWindow::Matcher() {
  if (payload_->isChecked()) {
    auto matcher = RowMatcher::ForPayload(Encodings(what_->text()));
    if (!matcher) status_->setText(QStringLiteral("请输入要查找的内容"));
    return matcher;
  }
  std::string error;
  auto matcher = RowMatcher::ForExpression(what_->text().toStdString(), error);
  if (!matcher) status_->setText(QString::fromStdString(error));  // libpcap's own reason
  if (matcher) field_->Remember();
  return matcher;
}

void FindWindow::FindInChosenDirection() {
  // A changed text changes what the list shows as well.
  if (onlyMatching_->isChecked() && what_->isModified()) ApplyFilter();
  FindNext(up_->isChecked());
}

// What a search looks for: its kind and text.
QString FindWindow::Sought() const {
  return (payload_->isChecked() ? QStringLiteral("T:") : QStringLiteral("E:")) + what_->text();
}

void FindWindow::FindNext(bool up) {
  // A press during a search for the same in the same direction goes on from
  // the match that search finds.
  if (search_ && up == searchUp_ && Sought() == searchSought_) {
    pressesAhead_ = std::min(pressesAhead_ + 1, kMaxPressesAhead);
    return;
  }
  Stop();
  const std::shared_ptr<const RowMatcher> matcher = Matcher();
  if (!matcher) return;
  // Up the list are the newer rows, with higher ordinals.
  const std::uint64_t rows = view_.Rows();
  const std::optional<std::uint64_t> current = view_.Selected() ? view_.CurrentRow() : std::nullopt;
  std::uint64_t from = up ? 0 : rows - 1;
  if (current) from = up ? *current + 1 : *current - 1;  // past either end when at it
  const bool nothingLeft = rows == 0 || (current && !up && *current == 0);
  status_->clear();
  if (nothingLeft || from >= rows) {
    status_->setText(QStringLiteral("找不到“%1”").arg(what_->text()));
    return;
  }
  const PacketModel& model = view_.Packets();
  search_ = std::make_unique<RowSearch>(model.Rows(), model.Filter(), matcher, from, rows, up);
  searchUp_ = up;
  searchSought_ = Sought();
  progress_->setValue(0);
  progress_->show();
  cancel_->setText(QStringLiteral("停止"));
  poll_.start();
}

void FindWindow::Poll() {
  if (search_) {
    const std::uint64_t total = std::max<std::uint64_t>(search_->RowsToLookAt(), 1);
    progress_->setValue(static_cast<int>(search_->RowsLookedAt() * kProgressSteps / total));
    if (search_->Done()) {
      const std::optional<std::uint64_t> found = search_->Found();
      const int pressesAhead = pressesAhead_;
      Stop();
      if (found) {
        view_.SelectOrdinal(*found);
        if (pressesAhead > 0) {
          FindNext(searchUp_);
          if (search_) pressesAhead_ = pressesAhead - 1;
        }
      } else {
        status_->setText(QStringLiteral("找不到“%1”").arg(what_->text()));
      }
    }
  }
  if (view_.Packets().Filter()) {
    view_.Packets().TakeRows();
    ShowCounts();
  }
  if (!search_ && !view_.Packets().Filter()) poll_.stop();
}

void FindWindow::Stop() {
  search_.reset();
  pressesAhead_ = 0;
  progress_->hide();
  cancel_->setText(QStringLiteral("取消"));
}

void FindWindow::ApplyFilter() {
  Stop();
  what_->setModified(false);
  if (onlyMatching_->isChecked()) {
    const std::shared_ptr<const RowMatcher> matcher = Matcher();
    if (matcher && view_.ShowOnly(matcher)) {
      ShowCounts();
      poll_.start();
      return;
    }
    if (matcher) status_->setText(QStringLiteral("无法建立匹配行的索引"));
    const QSignalBlocker blocker(onlyMatching_);
    onlyMatching_->setChecked(false);
  } else {
    status_->clear();
  }
  // Every row again whenever the box is off, so that the list shows what it says.
  view_.ShowOnly(nullptr);
}

void FindWindow::ShowOnlyMatching(const QString& expression) {
  Open();
  expression_->setChecked(true);
  what_->setText(expression);
  field_->SetChecking(true);  // coloured as if typed
  {
    const QSignalBlocker blocker(onlyMatching_);
    onlyMatching_->setChecked(true);
  }
  ApplyFilter();
}

void FindWindow::ShowCounts() {
  const PacketModel& model = view_.Packets();
  QString counts = QStringLiteral("匹配 %1 行，共 %2 行").arg(model.ShownRows()).arg(model.Rows().RowCount());
  // Matches the index had no room for (a full disk) are missing from the list.
  const std::uint64_t notKept = model.Filter() ? model.Filter()->MatchesNotKept() : 0;
  if (notKept > 0) counts += QStringLiteral("（另有 %1 行匹配因空间不足未能列出）").arg(notKept);
  status_->setText(counts);
}

void FindWindow::reject() {
  if (search_) {
    Stop();
    return;
  }
  QDialog::reject();
}

}  // namespace orvanel
