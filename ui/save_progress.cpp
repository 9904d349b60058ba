#include "ui/save_progress.h"

#include <cerrno>
#include <cstring>

#include "session/list_save.h"

namespace orvanel {
namespace {

constexpr int kPollMilliseconds = 100;
constexpr int kSteps = 1000;

}  // namespace

std::optional<QString> SaveFailureText(int error) {
  if (error == 0) return std::nullopt;
  if (error == ECANCELED) return QStringLiteral("已取消");
  return QString::fromLocal8Bit(std::strerror(error));
}

SaveProgress::SaveProgress(std::unique_ptr<ListSave> save, QWidget* parent)
    : QProgressDialog(QStringLiteral("正在保存 %1 行...").arg(save->Rows()), QStringLiteral("取消"), 0, kSteps, parent),
      save_(std::move(save)) {
  setWindowTitle(QStringLiteral("保存列表为 pcapng"));
  setWindowModality(Qt::NonModal);
  setAutoClose(false);
  setAutoReset(false);
  setMinimumDuration(0);
  setAttribute(Qt::WA_DeleteOnClose);
  connect(this, &QProgressDialog::canceled, this, [this] { save_->Cancel(); });
  poll_.setInterval(kPollMilliseconds);
  connect(&poll_, &QTimer::timeout, this, &SaveProgress::Poll);
  poll_.start();
  show();
}

SaveProgress::~SaveProgress() = default;

void SaveProgress::Poll() {
  const std::uint64_t rows = std::max<std::uint64_t>(save_->Rows(), 1);
  if (!wasCanceled()) setValue(static_cast<int>(save_->RowsWritten() * kSteps / rows));
  if (!save_->Done()) return;
  poll_.stop();
  const std::optional<QString> error = SaveFailureText(save_->Error());
  if (error && !wasCanceled()) emit failed(*error);
  close();
}

}  // namespace orvanel
