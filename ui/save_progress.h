// The window of a running save of the list: its progress and "取消". It goes
// when the save ends, saying why if it failed.
#pragma once

#include <QProgressDialog>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

namespace orvanel {

class ListSave;

// Why a save of the list failed, as the dialog says it (from ListSave::Error);
// nothing when it did not.
std::optional<QString> SaveFailureText(int error);

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
