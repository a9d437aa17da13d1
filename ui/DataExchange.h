// Data exchange between a dialog's fields and its edits, with the checks and
// the exact refusal texts that operators of the program know. The first
// refused entry stops the exchange: its message is shown, the focus goes to
// its edit and the dialog stays open.
#pragma once

#include <cstdint>
#include <string>

class QLineEdit;
class QWidget;

class DataExchange {
 public:
  explicit DataExchange(bool bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate) {}

  void Int(QLineEdit* edit, int32_t& value);
  // An unsigned 8-bit value: anything that is not an integer 0-255 is refused.
  void Byte(QLineEdit* edit, uint8_t& value);
  void MinMax(QLineEdit* edit, int32_t value, int32_t min, int32_t max);
  // A TCP port, 1 to 65535: one beyond 16 bits would be cut to another port.
  void TcpPort(QLineEdit* edit, int32_t value);
  // Shown with 6 significant digits.
  void Float(QLineEdit* edit, float& value);
  // The same in double precision, shown with 15 significant digits.
  void Double(QLineEdit* edit, double& value);
  void Text(QLineEdit* edit, std::string& value);
  void MaxChars(QLineEdit* edit, const std::string& value, int maxChars);
  // Four numbers 0-255 separated by dots, as the endpoint connects to.
  void Ipv4(QLineEdit* edit, const std::string& value);
  // Such an address, or a host name (letters, digits and hyphens in labels
  // separated by dots), resolved when the endpoint connects.
  void Host(QLineEdit* edit, const std::string& value);

  // Shows the message, focuses the control and stops the exchange.
  void Fail(QWidget* control, const std::string& message);

  bool m_bSaveAndValidate;
  bool m_bFailed = false;

 private:
  bool Skip() const { return m_bSaveAndValidate && m_bFailed; }
};
