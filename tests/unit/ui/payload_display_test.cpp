#include <gtest/gtest.h>

#include "ui/cell_text.h"

namespace orvanel {
namespace {

QString Show(const char* bytes, qsizetype size = -1) {
  return CellText(QByteArrayView(bytes, size < 0 ? qsizetype(std::strlen(bytes)) : size));
}

TEST(PayloadDisplay, ValidUtf8IsShownAsUtf8) {
  EXPECT_EQ(Show("GET / HTTP/1.1"), QStringLiteral("GET / HTTP/1.1"));
  EXPECT_EQ(Show("\xe4\xbd\xa0\xe5\xa5\xbd"), QStringLiteral("你好"));
  EXPECT_EQ(Show("\xf0\x9f\x98\x80"), QString::fromUtf8("\xf0\x9f\x98\x80"));  // outside the BMP
  EXPECT_EQ(Show("\xef\xbb\xbf"
                 "a"),
            QString(QChar(0xFEFF)) + QLatin1Char('a'));  // a BOM is kept
  EXPECT_TRUE(Show("").isEmpty());
}

TEST(PayloadDisplay, OtherBytesAreGbkWithReplacementForUndecodable) {
  EXPECT_EQ(Show("\xc4\xe3\xba\xc3"), QStringLiteral("你好"));
  EXPECT_EQ(Show("a\xc4\xe3"
                 "b"),
            QStringLiteral("a你b"));
  EXPECT_EQ(Show("\x80"), QStringLiteral("€"));  // code page 936 has the euro at 0x80
  // 0xFF is no GBK character; 0x81 needs a trail byte.
  EXPECT_EQ(Show("x\xff"), QStringLiteral("x\uFFFD"));
  EXPECT_EQ(Show("\x81\x20"), QStringLiteral("\uFFFD "));
  // A lead byte at the very end is not silently dropped.
  EXPECT_EQ(Show("ab\xc4"), QStringLiteral("ab\uFFFD"));
  // Overlong and surrogate UTF-8 forms are not UTF-8; as GBK they are pairs.
  EXPECT_EQ(Show("\xc0\x80").size(), 1);
  EXPECT_NE(Show("\xed\xa0\x80"), QString::fromUtf8("\xed\xa0\x80"));
}

TEST(PayloadDisplay, ControlCharactersKeepTheRowOnOneLine) {
  EXPECT_EQ(Show("a\r\nb\tc"), QStringLiteral("a\u240D\u240Ab\u2409c"));
  EXPECT_EQ(Show("\x01\x1f\x7f"), QStringLiteral("\u2401\u241F\u2421"));
  EXPECT_EQ(Show("\0x", 2), QStringLiteral("\u2400x"));
  // Unicode line breaks and C1 controls in UTF-8.
  EXPECT_EQ(Show("a\xe2\x80\xa8"
                 "b\xc2\x85"),
            QStringLiteral("a\u2424b\u2424"));
  EXPECT_EQ(Show("\xc2\x9b"), QStringLiteral("\uFFFD"));
  for (int byte = 0; byte < 256; ++byte) {
    const char one = static_cast<char>(byte);
    const QString shown = CellText(QByteArrayView(&one, 1));
    ASSERT_EQ(shown.size(), 1) << byte;
    EXPECT_FALSE(shown[0].category() == QChar::Other_Control || shown[0] == QChar::LineSeparator ||
                 shown[0] == QChar::ParagraphSeparator)
        << byte;
  }
}

}  // namespace
}  // namespace orvanel
