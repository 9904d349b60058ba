#include "ui/packet_details_window.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeySequence>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "capture/datagram_details.h"
#include "ui/details_texts.h"

namespace orvanel {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

QTreeWidgetItem* AddItem(QTreeWidgetItem& parent, const QString& label, const QString& value, bool fault) {
  auto* item = new QTreeWidgetItem(&parent, {label, value});
  if (fault) {
    for (int column = 0; column < 2; ++column) item->setForeground(column, QColor(0xB0, 0x00, 0x00));
  }
  return item;
}

void AddLayer(QTreeWidget& tree, const LayerText& layer) {
  auto* group = new QTreeWidgetItem(&tree, {Text(layer.title)});
  for (const FieldText& field : layer.fields) {
    QTreeWidgetItem* item = AddItem(*group, Text(field.label), Text(field.value), field.fault);
    for (const FieldText& part : field.parts) AddItem(*item, Text(part.label), Text(part.value), part.fault);
  }
}

// Shows a cell's whole text as its tooltip when the cell is too narrow for it.
class FullTextToolTips final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override {
    if (event->type() != QEvent::ToolTip) return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString text = index.data().toString();
    if (sizeHint(option, index).width() > view->visualRect(index).width()) {
      QToolTip::showText(event->globalPos(), text, view->viewport(), view->visualRect(index));
    } else {
      QToolTip::hideText();
    }
    return true;
  }
};

QString CaptureTimeText(std::int64_t captureTimeNs) {
  if (captureTimeNs == 0) return QStringLiteral("未知");
  const QDateTime time = QDateTime::fromMSecsSinceEpoch(captureTimeNs / 1'000'000);
  return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) +
         QStringLiteral("%1").arg(captureTimeNs / 1'000 % 1'000, 3, 10, QLatin1Char('0'));
}

}  // namespace

PacketDetailsWindow::PacketDetailsWindow(std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs,
                                         const QString& program, QWidget* parent)
    : QWidget(parent, Qt::Window), m_fields(new QTreeWidget), m_dump(new QPlainTextEdit) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("数据包详情"));
  connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this, &QWidget::close);

  m_fields->setColumnCount(2);
  m_fields->setHeaderLabels({QStringLiteral("字段"), QStringLiteral("值")});
  auto* received = new QTreeWidgetItem(m_fields, {QStringLiteral("捕获")});
  AddItem(*received, QStringLiteral("时间"), CaptureTimeText(captureTimeNs), false);
  AddItem(*received, QStringLiteral("收到"), QStringLiteral("%1 字节").arg(datagram.size()), false);
  if (!program.isEmpty()) AddItem(*received, QStringLiteral("程序"), program, false);
  for (const LayerText& layer : DetailTexts(DescribeDatagram(datagram))) AddLayer(*m_fields, layer);
  m_fields->expandAll();
  m_fields->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  m_fields->setItemDelegate(new FullTextToolTips(m_fields));

  m_dump->setReadOnly(true);
  m_dump->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_dump->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_dump->setPlainText(Text(HexDump(datagram)));

  auto* splitter = new QSplitter(Qt::Vertical);
  splitter->addWidget(m_fields);
  splitter->addWidget(m_dump);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 0);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(splitter);
  // The fields take the room; the dump shows up to kDumpLines lines and scrolls for the rest.
  constexpr int kDumpLines = 12;
  const int lines = std::min(kDumpLines, m_dump->blockCount());
  const int dumpHeight = QFontMetrics(m_dump->font()).lineSpacing() * lines + 2 * m_dump->frameWidth() +
                         int(2 * m_dump->document()->documentMargin()) + 4;
  // Within the screen's available area, whatever the scale, with room for the frame.
  constexpr int kWidth = 660, kHeight = 720, kFrameRoom = 48;
  const QRect available = (parent ? parent->screen() : screen())->availableGeometry();
  const QSize size(std::min(kWidth, available.width() - kFrameRoom),
                   std::min(kHeight, available.height() - kFrameRoom));
  resize(size);
  QRect frame(QPoint(), size + QSize(kFrameRoom, kFrameRoom));
  frame.moveCenter(parent ? parent->frameGeometry().center() : available.center());
  frame.moveLeft(std::clamp(frame.left(), available.left(), available.right() + 1 - frame.width()));
  frame.moveTop(std::clamp(frame.top(), available.top(), available.bottom() + 1 - frame.height()));
  move(frame.topLeft());
  splitter->setSizes(
      {std::max(size.height() - dumpHeight, size.height() / 2), std::min(dumpHeight, size.height() / 2)});
}

}  // namespace orvanel
