#include "ui/recent_files.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>

namespace orvanel {
namespace {

const QString kKey = QStringLiteral("recentFiles");

QSettings Settings() { return QSettings(QStringLiteral("Orvanel"), QStringLiteral("orvanel")); }

}  // namespace

RecentFiles::RecentFiles(const QAction& open, QWidget* parent)
    : QObject(parent), open_(open), menu_(new QMenu(QStringLiteral("最近打开的文件"), parent)) {
  connect(&open, &QAction::enabledChanged, this, &RecentFiles::Enable);
  Fill(Settings().value(kKey).toStringList().mid(0, kFiles));
}

void RecentFiles::Add(const QStringList& files) {
  QStringList recent = Settings().value(kKey).toStringList();
  // The first of the files on top.
  for (auto file = files.rbegin(); file != files.rend(); ++file) {
    const QString path = QFileInfo(*file).absoluteFilePath();
    recent.removeAll(path);
    recent.prepend(path);
  }
  recent = recent.mid(0, kFiles);
  Settings().setValue(kKey, recent);
  Fill(recent);
}

void RecentFiles::Fill(const QStringList& files) {
  menu_->clear();
  for (int i = 0; i < files.size(); ++i) {
    // &1 to &9, then &0, as Windows numbers them.
    const QString& file = files[i];
    menu_->addAction(QStringLiteral("&%1 %2").arg((i + 1) % 10).arg(file), this, [this, file] { emit chosen(file); });
  }
  Enable();
}

void RecentFiles::Enable() { menu_->setEnabled(open_.isEnabled() && !menu_->isEmpty()); }

}  // namespace orvanel
