// Qt's own Chinese translation, which labels the standard buttons ("确定").
#pragma once

class QCoreApplication;
class QTranslator;

namespace orvanel {

bool InstallQtChineseTranslation(QCoreApplication& app, QTranslator& translator);

}  // namespace orvanel
