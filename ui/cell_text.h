// How the bytes of a table cell are shown: one line of readable text, whatever they hold.
#pragma once

#include <QByteArrayView>
#include <QString>

namespace orvanel {

// UTF-8 when the bytes are valid UTF-8, otherwise GBK (code page 936) with
// undecodable bytes as U+FFFD. Control characters become visible symbols so
// the text never breaks the row. Accepts any bytes.
QString CellText(QByteArrayView bytes);

}  // namespace orvanel
