#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <cmath>
#include <span>
#include <vector>

#include "res/resource.h"
#include "res/strings.h"
#include "res/templates.h"
#include "ui/about_dlg.h"
#include "ui/capture_dlg.h"
#include "ui/dialog_units.h"

namespace orvanel {
namespace {

using K = res::ControlKind;

// A few controls as the dialog has always had them, against a slip in the template.
struct SpotCheck {
  int id;
  const char* caption;
  int x, y, w, h;
};
const SpotCheck kSpotChecks[] = {
    {1000, "开始嗅探", 353, 124, 46, 18}, {1005, "", 49, 28, 40, 12},
    {1006, "", 125, 36, 67, 12},          {1018, "", 7, 148, 401, 187},
    {1022, "", 361, 53, 36, 12},          {1029, "目标IP地址为:", 223, 22, 68, 10},
    {1041, "OTHER:", 320, 99, 40, 10},    {1042, "最末数据包写入文件", 319, 21, 83, 10},
};

// 6 x 12 base units: 1.5 px a unit both ways, halves rounded up.
int Px(int units) { return static_cast<int>(std::lround(units * 1.5)); }

bool IsKind(QWidget* widget, K kind) {
  switch (kind) {
    case K::PushButton: return qobject_cast<QPushButton*>(widget);
    case K::GroupBox: return qobject_cast<QGroupBox*>(widget);
    case K::Label: return qobject_cast<QLabel*>(widget);
    case K::Edit: return qobject_cast<QLineEdit*>(widget);
    case K::CheckBox: return qobject_cast<QCheckBox*>(widget);
    case K::ComboBox: return qobject_cast<QComboBox*>(widget);
    case K::ListView: return qobject_cast<QTableView*>(widget);
    case K::Icon: return qobject_cast<QLabel*>(widget);
  }
  return false;
}

QString Caption(QWidget* widget) {
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  return {};
}

// The dialog's child widgets that the template made, in creation order.
std::vector<QWidget*> TemplateWidgets(QDialog& dialog) {
  std::vector<QWidget*> widgets;
  for (QObject* child : dialog.children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget && !widget->isWindow()) widgets.push_back(widget);
  }
  return widgets;
}

HostQueries NoHost() {
  return {[] { return std::optional<std::string>("host"); },
          [] { return std::optional<std::vector<std::string>>(std::vector<std::string>{}); }};
}

TEST(DialogTemplate, BaseUnitsOfTheDialogFontAreSixByTwelve) {
  const res::DialogTemplate& dialog = res::CaptureDialogTemplate();
  const BaseUnits units = DialogBaseUnits(DialogFont(dialog.fontFace, dialog.fontPoints));
  EXPECT_EQ(units.x, 6);
  EXPECT_EQ(units.y, 12);
  EXPECT_EQ(MulDiv(415, 6, 4), 623);  // 622.5 rounds up
  EXPECT_EQ(MulDiv(-5, 6, 4), -8);    // and away from zero below it
  EXPECT_EQ(MulDiv(7, 3, 0), -1);
}

TEST(DialogTemplate, EveryControlHasItsIdKindCaptionAndPlace) {
  CCaptureDlg dialog(nullptr, NoHost());
  EXPECT_EQ(dialog.size(), QSize(623, 513));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Selvatrix v2.2"));
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
  const std::span<const res::ControlTemplate> controls = res::CaptureDialogTemplate().controls;
  const std::vector<QWidget*> widgets = TemplateWidgets(dialog);
  ASSERT_EQ(controls.size(), 48u);
  ASSERT_EQ(widgets.size(), controls.size());
  for (std::size_t i = 0; i < widgets.size(); ++i) {
    const res::ControlTemplate& expected = controls[i];
    QWidget* widget = widgets[i];
    SCOPED_TRACE(testing::Message() << "control " << i << " id " << expected.id);
    EXPECT_TRUE(IsKind(widget, expected.kind));
    if (expected.id != res::IDC_STATIC) {
      EXPECT_EQ(dialog.GetDlgItem(expected.id), widget);
    }
    EXPECT_EQ(Caption(widget), QString::fromUtf8(expected.caption.data(), expected.caption.size()));
    const QRect place(Px(expected.x), Px(expected.y), Px(expected.w), Px(expected.h));
    if (expected.kind == K::ComboBox) {
      // Closed, a combo box is one line high; the template height is its list.
      EXPECT_EQ(widget->pos(), place.topLeft());
      EXPECT_EQ(widget->width(), place.width());
      EXPECT_LT(widget->height(), 30);
    } else {
      EXPECT_EQ(widget->geometry(), place);
    }
    EXPECT_EQ(widget->isEnabled(), !(expected.style & res::kDisabled));
    if (expected.kind == K::Edit) {
      auto* edit = static_cast<QLineEdit*>(widget);
      EXPECT_EQ(edit->isReadOnly(), (expected.style & res::kReadOnly) != 0);
      EXPECT_TRUE(edit->alignment() & Qt::AlignHCenter);
      EXPECT_TRUE(edit->hasFrame());
    }
  }
  for (const SpotCheck& spot : kSpotChecks) {
    SCOPED_TRACE(testing::Message() << "id " << spot.id);
    QWidget* widget = dialog.GetDlgItem(spot.id);
    ASSERT_TRUE(widget);
    EXPECT_EQ(Caption(widget), QString::fromUtf8(spot.caption));
    EXPECT_EQ(widget->geometry(), QRect(Px(spot.x), Px(spot.y), Px(spot.w), Px(spot.h)));
  }
  // An address filter takes typing and a counter does not; the OTHER boxes of the groups start disabled.
  EXPECT_FALSE(static_cast<QLineEdit*>(dialog.GetDlgItem(1008))->isReadOnly());
  EXPECT_TRUE(static_cast<QLineEdit*>(dialog.GetDlgItem(1016))->isReadOnly());
  EXPECT_FALSE(dialog.GetDlgItem(1033)->isEnabled());
  EXPECT_FALSE(dialog.GetDlgItem(1037)->isEnabled());
  EXPECT_TRUE(dialog.GetDlgItem(1036)->isEnabled());
  auto* combo = static_cast<QComboBox*>(dialog.GetDlgItem(1043));
  EXPECT_FALSE(combo->isEditable());
  auto* start = static_cast<QPushButton*>(dialog.GetDlgItem(1000));
  EXPECT_FALSE(start->isDefault());
}

TEST(DialogTemplate, TabOrderIsTemplateOrderOverTheTabStops) {
  CCaptureDlg dialog(nullptr, NoHost());
  const std::span<const res::ControlTemplate> controls = res::CaptureDialogTemplate().controls;
  std::vector<int> expected;
  for (const res::ControlTemplate& control : controls) {
    if (control.kind != K::GroupBox && control.kind != K::Label) expected.push_back(control.id);
  }
  std::vector<int> actual;
  QWidget* first = dialog.GetDlgItem(1000);
  QWidget* widget = first;
  do {
    for (const res::ControlTemplate& control : controls) {
      if (control.id != res::IDC_STATIC && dialog.GetDlgItem(control.id) == widget) actual.push_back(control.id);
    }
    widget = widget->nextInFocusChain();
  } while (widget != first && actual.size() <= expected.size());
  EXPECT_EQ(actual, expected);
  for (QWidget* control : TemplateWidgets(dialog)) {
    const bool tabStop = qobject_cast<QLabel*>(control) == nullptr && qobject_cast<QGroupBox*>(control) == nullptr;
    EXPECT_EQ(control->focusPolicy() == Qt::StrongFocus, tabStop);
  }
}

TEST(DialogTemplate, PacketTableColumnsAndStyles) {
  QSettings(QStringLiteral("Orvanel"), QStringLiteral("orvanel")).remove(QStringLiteral("list"));
  CCaptureDlg dialog(nullptr, NoHost());
  dialog.show();
  auto* table = static_cast<QTableView*>(dialog.GetDlgItem(1018));
  const QStringList headings = {"协议", "源IP地址", "端口", "目的IP地址", "端口", "长度", "数据包内容"};
  const int widths[] = {40, 105, 50, 105, 50, 50, 180};
  // Two more of the list's own, hidden at first: the list looks as it always has.
  ASSERT_EQ(table->model()->columnCount(), 9);
  QStringList shown;
  for (int visual = 0; visual < 9; ++visual) {
    const int column = table->horizontalHeader()->logicalIndex(visual);
    if (!table->isColumnHidden(column)) shown << table->model()->headerData(column, Qt::Horizontal).toString();
  }
  EXPECT_EQ(shown, headings);
  for (int column = 0; column < 7; ++column) {
    EXPECT_EQ(table->model()->headerData(column, Qt::Horizontal).toString(), headings[column]);
    EXPECT_EQ(table->columnWidth(column), widths[column]);
    EXPECT_TRUE(table->model()->headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
                Qt::AlignLeft);
  }
  EXPECT_TRUE(table->showGrid());
  EXPECT_TRUE(table->horizontalHeader()->sectionsMovable());

  // The header's menu shows "时间" first, and the next dialog remembers it.
  QHeaderView* header = table->horizontalHeader();
  const auto headerMenu = [](QHeaderView* header) {
    emit header->customContextMenuRequested(QPoint(5, 5));
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
  };
  QMenu* menu = headerMenu(header);
  ASSERT_TRUE(menu);
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("序号"));
  EXPECT_EQ(menu->actions()[1]->text(), QStringLiteral("时间"));
  EXPECT_FALSE(menu->actions()[1]->isChecked());
  menu->actions()[1]->trigger();
  menu->close();
  EXPECT_FALSE(table->isColumnHidden(8));
  EXPECT_EQ(header->logicalIndexAt(2), 8);  // first, at the left edge
  {
    CCaptureDlg next(nullptr, NoHost());
    next.show();
    auto* nextTable = static_cast<QTableView*>(next.GetDlgItem(1018));
    EXPECT_FALSE(nextTable->isColumnHidden(8));
    EXPECT_TRUE(nextTable->isColumnHidden(7));
    menu = headerMenu(nextTable->horizontalHeader());
    ASSERT_TRUE(menu);
    EXPECT_TRUE(menu->actions()[1]->isChecked());
    menu->actions()[1]->trigger();  // hidden again
    menu->close();
    EXPECT_TRUE(nextTable->isColumnHidden(8));
  }
  CCaptureDlg third(nullptr, NoHost());
  third.show();
  EXPECT_TRUE(static_cast<QTableView*>(third.GetDlgItem(1018))->isColumnHidden(8));
  EXPECT_EQ(table->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_FALSE(table->verticalHeader()->isVisible());
}

TEST(DialogTemplate, AboutBox) {
  CAboutDlg about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("关于 Orvanel"));
  EXPECT_EQ(about.size(), QSize(353, 83));
  const std::vector<QWidget*> widgets = TemplateWidgets(about);
  ASSERT_EQ(widgets.size(), 4u);
  auto* icon = qobject_cast<QLabel*>(widgets[0]);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->pos(), QPoint(Px(11), Px(17)));
  EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));
  EXPECT_EQ(Caption(widgets[1]), QStringLiteral("Orvanel 1.0 版"));
  EXPECT_EQ(widgets[1]->geometry(), QRect(Px(40), Px(10), Px(119), Px(8)));
  EXPECT_FALSE(Caption(widgets[2]).isEmpty());
  auto* ok = qobject_cast<QPushButton*>(widgets[3]);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->text(), QStringLiteral("确定"));
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(ok->geometry(), QRect(Px(178), Px(7), Px(50), Px(14)));
}

TEST(DialogTemplate, StringTableAndVersion) {
  EXPECT_EQ(res::LoadString(res::IDS_ABOUTBOX), "关于 Orvanel(&A)...");
  EXPECT_TRUE(res::LoadString(999).empty());
  EXPECT_EQ(res::Version().fileVersion, "1, 0, 0, 1");
  EXPECT_EQ(res::Version().dottedVersion, "1.0.0.1");
}

}  // namespace
}  // namespace orvanel
