// Moving values between a dialog's members and its controls.
#pragma once

#include <QString>

class QLineEdit;

namespace orvanel {

class DataExchange {
 public:
  // saveAndValidate: from the controls into the members; otherwise the reverse.
  explicit DataExchange(bool saveAndValidate) : save_(saveAndValidate) {}

  // An integer shown in decimal. A text that is no number leaves the member
  // as it was and makes Ok() false.
  void Text(QLineEdit& edit, int& value);
  void Text(QLineEdit& edit, QString& value);

  [[nodiscard]] bool Ok() const { return ok_; }

 private:
  bool save_;
  bool ok_ = true;
};

}  // namespace orvanel
