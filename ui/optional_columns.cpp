#include "ui/optional_columns.h"

#include <QHeaderView>
#include <QMenu>
#include <QSettings>

#include "ui/packet_list_view.h"
#include "ui/packet_model.h"

namespace orvanel {
namespace {

struct OptionalColumn {
  int column;
  const char* key;
  const char* widest;  // the widest text it shows, with room for the cell's margins
};

constexpr OptionalColumn kColumns[] = {
    {PacketModel::kNumberColumn, "list/showNumber", "000000000000"},
    {PacketModel::kTimeColumn, "list/showTime", "0000-00-00 00:00:00.00000000"},
};

QSettings Settings() { return QSettings(QStringLiteral("Orvanel"), QStringLiteral("orvanel")); }

void ShowHeaderMenu(PacketListView& view, const QPoint& at) {
  QHeaderView& header = *view.horizontalHeader();
  auto* menu = new QMenu(&header);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  for (const OptionalColumn& optional : kColumns) {
    QAction* action = menu->addAction(view.model()->headerData(optional.column, Qt::Horizontal).toString());
    action->setCheckable(true);
    action->setChecked(!header.isSectionHidden(optional.column));
    QObject::connect(action, &QAction::toggled, &header, [&header, optional](bool shown) {
      header.setSectionHidden(optional.column, !shown);
      Settings().setValue(QLatin1String(optional.key), shown);
    });
  }
  menu->popup(header.mapToGlobal(at));
}

}  // namespace

void AddOptionalColumns(PacketListView& view) {
  QHeaderView& header = *view.horizontalHeader();
  const QSettings settings = Settings();
  int visual = 0;
  for (const OptionalColumn& optional : kColumns) {
    header.moveSection(header.visualIndex(optional.column), visual++);
    view.setColumnWidth(optional.column, view.fontMetrics().horizontalAdvance(QLatin1String(optional.widest)) +
                                             2 * view.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &view));
    header.setSectionHidden(optional.column, !settings.value(QLatin1String(optional.key), false).toBool());
  }
  header.setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(&header, &QHeaderView::customContextMenuRequested, &view,
                   [&view](const QPoint& at) { ShowHeaderMenu(view, at); });
}

}  // namespace orvanel
