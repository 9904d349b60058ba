#include "ui/list_export.h"

#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "storage/pcapng_writer.h"
#include "ui/packet_model.h"

namespace orvanel {
namespace {

QString Reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

std::optional<QString> SaveRowsAsPcapng(const PacketModel& model, const QString& path) {
  const QByteArray target = QFile::encodeName(path);
  QByteArray temporary = target + ".XXXXXX";
  const int fd = mkstemp(temporary.data());  // mode 0600: captured bytes are other people's data
  if (fd < 0) return Reason(errno);
  std::FILE* out = fdopen(fd, "wb");
  if (!out) {
    const int error = errno;
    close(fd);
    unlink(temporary.constData());
    return Reason(error);
  }
  {
    PcapngWriter writer(out);
    for (std::uint64_t row = 0; row < model.ShownRows(); ++row) {
      const RowSpool::StoredRow stored = model.StoredRow(row);
      writer.WritePacket(stored.datagram, stored.captureTimeNs);
    }
  }
  errno = EIO;  // fwrite does not always say why
  const bool written = std::ferror(out) == 0 && std::fflush(out) == 0 && fsync(fd) == 0;
  const int error = errno;
  const bool closed = std::fclose(out) == 0;
  if (!written || !closed || std::rename(temporary.constData(), target.constData()) != 0) {
    const int reason = !written ? error : errno;
    unlink(temporary.constData());
    return Reason(reason);
  }
  return std::nullopt;
}

}  // namespace orvanel
