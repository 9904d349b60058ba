// "最近打开的文件": the last capture files opened, newest first, kept across
// runs, as a menu whose entries open them again. It is enabled when opening
// is, and holds a file.
#pragma once

#include <QObject>
#include <QStringList>

class QAction;
class QMenu;

namespace orvanel {

class RecentFiles final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kFiles = 10;

  RecentFiles(const QAction& open, QWidget* parent);

  [[nodiscard]] QMenu* Menu() const { return menu_; }
  // Files just opened, put first.
  void Add(const QStringList& files);

 signals:
  void chosen(const QString& file);

 private:
  void Fill(const QStringList& files);

  void Enable();

  const QAction& open_;
  QMenu* menu_;
};

}  // namespace orvanel
