#include "ui/cell_text.h"

#include <QStringDecoder>

namespace orvanel {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kControlPictures = 0x2400;  // U+2400..U+241F stand for C0 controls
constexpr char16_t kDeletePicture = 0x2421;
constexpr char16_t kNewlinePicture = 0x2424;

bool IsAscii(QByteArrayView bytes) {
  for (char byte : bytes) {
    if (static_cast<unsigned char>(byte) >= 0x80) return false;
  }
  return true;
}

// Null when the bytes are not valid UTF-8. A leading BOM is kept as U+FEFF.
QString DecodeUtf8(QByteArrayView bytes) {
  QStringDecoder decoder(QStringConverter::Utf8,
                         QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
  QString text = decoder(bytes);
  return decoder.hasError() ? QString() : text;
}

QString DecodeGbk(QByteArrayView bytes) {
  QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
  if (!decoder.isValid()) return QString(bytes.size(), QChar(kReplacement));
  // A lead byte at the very end would be dropped silently; an ASCII sentinel
  // makes the decoder report it as U+FFFD, and is then taken off again.
  QByteArray terminated(bytes.data(), bytes.size());
  terminated.append('\x01');
  QString text = decoder(terminated);
  text.chop(1);
  return text;
}

char16_t Visible(char16_t c) {
  if (c < 0x20) return static_cast<char16_t>(kControlPictures + c);
  if (c == 0x7F) return kDeletePicture;
  if (c == 0x85 || c == 0x2028 || c == 0x2029) return kNewlinePicture;
  if (c >= 0x80 && c < 0xA0) return kReplacement;
  // GBK maps some bytes (0xFF, user-defined pairs) to private-use points no font draws.
  if (c >= 0xE000 && c <= 0xF8FF) return kReplacement;
  return c;
}

}  // namespace

QString CellText(QByteArrayView bytes) {
  QString text;
  if (IsAscii(bytes)) {
    text = QString::fromLatin1(bytes);
  } else {
    text = DecodeUtf8(bytes);
    if (text.isNull()) text = DecodeGbk(bytes);
  }
  for (QChar& c : text) c = QChar(Visible(c.unicode()));
  return text;
}

}  // namespace orvanel
