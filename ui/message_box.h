// The program's message boxes: warning icon, caption "Orvanel", one OK button.
#pragma once

#include <QString>

class QWidget;

namespace orvanel {

void ShowMessage(QWidget* parent, const QString& text);

// Shows the message, then ends the process with status 0 once the box is closed.
[[noreturn]] void ShowFatalMessage(QWidget* parent, const QString& text);

}  // namespace orvanel
