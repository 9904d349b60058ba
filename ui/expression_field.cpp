#include "ui/expression_field.h"

#include <QLineEdit>
#include <QSettings>

#include "ui/expression_check.h"

namespace orvanel {
namespace {

const QString kHistoryKey = QStringLiteral("find/expressions");
// Wireshark's filter bar colours.
const QColor kCompiles(0xaf, 0xff, 0xaf);
const QColor kFails(0xff, 0xaf, 0xaf);

QSettings Settings() { return QSettings(QStringLiteral("Orvanel"), QStringLiteral("orvanel")); }

}  // namespace

ExpressionField::ExpressionField(QWidget* parent) : QComboBox(parent), check_(new ExpressionCheck(this)) {
  setEditable(true);
  setInsertPolicy(NoInsert);
  setMaxCount(kHistory);
  setSizeAdjustPolicy(AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(24);
  addItems(Settings().value(kHistoryKey).toStringList().mid(0, kHistory));
  setCurrentIndex(-1);
  connect(lineEdit(), &QLineEdit::textEdited, this, &ExpressionField::Typed);
  // One chosen from the list is a change, to be applied on Enter.
  connect(this, &QComboBox::textActivated, this, [this] {
    lineEdit()->setModified(true);
    Typed();
  });
  connect(check_, &ExpressionCheck::checked, this, &ExpressionField::Show);
}

void ExpressionField::SetChecking(bool checking) {
  checking_ = checking;
  Typed();
}

void ExpressionField::Remember() {
  const QString text = currentText();
  if (text.trimmed().isEmpty()) return;
  const int was = findText(text);
  if (was == 0) return;
  if (was > 0) removeItem(was);
  insertItem(0, text);
  while (count() > kHistory) removeItem(count() - 1);
  if (currentText() != text) setEditText(text);  // a removed current item took its text along
  QStringList history;
  for (int item = 0; item < count(); ++item) history << itemText(item);
  Settings().setValue(kHistoryKey, history);
}

void ExpressionField::Typed() {
  const QString text = currentText();
  if (!checking_ || text.trimmed().isEmpty()) {
    Show(text, {});
    return;
  }
  check_->Check(text);
}

void ExpressionField::Show(const QString& expression, const QString& error) {
  if (expression != currentText()) return;  // typed on meanwhile
  QPalette colours = palette();
  if (checking_ && !expression.trimmed().isEmpty())
    colours.setColor(QPalette::Base, error.isEmpty() ? kCompiles : kFails);
  lineEdit()->setPalette(colours);
  lineEdit()->setToolTip(checking_ ? error : QString());
}

}  // namespace orvanel
