// The window of a running save of the list: its progress and "取消". It goes
// when the save ends, saying why if it failed.
#pragma once

#include <QProgressDialog>
#include <QTimer>
#include <memory>

namespace orvanel {

class ListSave;

class SaveProgress final : public QProgressDialog {
  Q_OBJECT

 public:
  SaveProgress(std::unique_ptr<ListSave> save, QWidget* parent);
  ~SaveProgress() override;

 signals:
  void failed(const QString& why);

 private:
  void Poll();

  std::unique_ptr<ListSave> save_;
  QTimer poll_;
};

}  // namespace orvanel
