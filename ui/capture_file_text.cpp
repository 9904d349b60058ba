#include "ui/capture_file_text.h"

#include <QFile>
#include <cerrno>
#include <cstring>

namespace orvanel {
namespace {

QString Reason(const CaptureFileError& error) {
  using Kind = CaptureFileError::Kind;
  switch (error.kind) {
    case Kind::CannotOpen:
      switch (error.systemError) {
        case ENOENT: return QStringLiteral("文件不存在");
        case EACCES:
        case EPERM: return QStringLiteral("没有读取它的权限");
        case EISDIR: return QStringLiteral("这是一个目录，不是文件");
        default: return QStringLiteral("无法打开（%1）").arg(QString::fromLocal8Bit(std::strerror(error.systemError)));
      }
    case Kind::Empty: return QStringLiteral("文件是空的");
    case Kind::NotACaptureFile: return QStringLiteral("不是 pcap 或 pcapng 捕获文件");
    case Kind::UnsupportedLinkType:
      return QStringLiteral("不支持它的链路类型 %1").arg(QString::fromStdString(error.detail));
    case Kind::Truncated: return QStringLiteral("文件不完整，在中途被截断");
    case Kind::Damaged: return QStringLiteral("文件已损坏（%1）").arg(QString::fromStdString(error.detail));
  }
  return {};
}

}  // namespace

QString CaptureFileFilter() {
  return QStringLiteral(
      "捕获文件 (*.pcap *.pcapng *.cap *.dmp *.pcap.gz *.pcapng.gz *.pcap.zst *.pcapng.zst *.pcap.lz4 *.pcapng.lz4 "
      "*.pcap.xz *.pcapng.xz);;所有文件 (*)");
}

QString CaptureFileMessage(const CaptureFileError& error) {
  return QStringLiteral("无法读取捕获文件“%1”：%2。").arg(QFile::decodeName(error.file.c_str()), Reason(error));
}

}  // namespace orvanel
