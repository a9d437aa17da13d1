#include "ui/DataExchange.h"

#include <arpa/inet.h>

#include <QLineEdit>
#include <QString>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "platform/MessageBox.h"

namespace {

const char kEnterInteger[] = "Enter an integer.";
const char kEnterNumber[] = "Enter a number.";
const int32_t kHighestTcpPort = 65535;

std::string Between(long long min, long long max) {
  return "Enter an integer between " + std::to_string(min) + " and " + std::to_string(max) + ".";
}

// Blanks around the number are allowed; anything else, or a value that does
// not fit 32 bits, is not an integer.
bool ParseInt(const QString& text, int32_t& out) {
  bool ok = false;
  const long long v = text.trimmed().toLongLong(&ok, 10);
  if (!ok || v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    return false;
  out = static_cast<int32_t>(v);
  return true;
}

}  // namespace

void DataExchange::Fail(QWidget* control, const std::string& message) {
  // A field named by its dialog is named in the message: with many fields,
  // the focus alone does not tell the operator which one was refused.
  const QString field = control ? control->accessibleName() : QString();
  AfxMessageBox(field.isEmpty() ? message : field.toStdString() + ": " + message,
                MB_ICONEXCLAMATION);
  if (control) {
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
  }
  m_bFailed = true;
}

void DataExchange::Int(QLineEdit* edit, int32_t& value) {
  if (Skip()) return;
  if (!m_bSaveAndValidate) {
    edit->setText(QString::number(value));
    return;
  }
  int32_t v = 0;
  if (!ParseInt(edit->text(), v)) return Fail(edit, kEnterInteger);
  value = v;
}

void DataExchange::Byte(QLineEdit* edit, uint8_t& value) {
  if (Skip()) return;
  if (!m_bSaveAndValidate) {
    edit->setText(QString::number(value));
    return;
  }
  int32_t v = 0;
  if (!ParseInt(edit->text(), v) || v < 0 || v > 255) return Fail(edit, Between(0, 255));
  value = static_cast<uint8_t>(v);
}

void DataExchange::MinMax(QLineEdit* edit, int32_t value, int32_t min, int32_t max) {
  if (!m_bSaveAndValidate || m_bFailed) return;
  if (value < min || value > max) Fail(edit, Between(min, max));
}

void DataExchange::TcpPort(QLineEdit* edit, int32_t value) {
  MinMax(edit, value, 1, kHighestTcpPort);
}

void DataExchange::Float(QLineEdit* edit, float& value) {
  if (Skip()) return;
  if (!m_bSaveAndValidate) {
    edit->setText(QString::number(value, 'g', 6));
    return;
  }
  bool ok = false;
  const float v = edit->text().trimmed().toFloat(&ok);
  // Infinity and not-a-number are words, not numbers a limit can hold.
  if (!ok || !std::isfinite(v)) return Fail(edit, kEnterNumber);
  value = v;
}

void DataExchange::Double(QLineEdit* edit, double& value) {
  if (Skip()) return;
  if (!m_bSaveAndValidate) {
    edit->setText(QString::number(value, 'g', 15));
    return;
  }
  bool ok = false;
  const double v = edit->text().trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(v)) return Fail(edit, kEnterNumber);
  value = v;
}

void DataExchange::Text(QLineEdit* edit, std::string& value) {
  if (Skip()) return;
  if (m_bSaveAndValidate)
    value = edit->text().toStdString();
  else
    edit->setText(QString::fromStdString(value));
}

void DataExchange::MaxChars(QLineEdit* edit, const std::string& value, int maxChars) {
  if (!m_bSaveAndValidate) {
    edit->setMaxLength(maxChars);
    return;
  }
  if (m_bFailed) return;
  if (QString::fromStdString(value).size() > maxChars)
    Fail(edit, "Enter no more than " + std::to_string(maxChars) + " characters.");
}

namespace {

constexpr size_t kLongestHostName = 253;
constexpr size_t kLongestLabel = 63;

bool IsHostName(const std::string& text) {
  if (text.empty() || text.size() > kLongestHostName) return false;
  size_t start = 0;
  for (;;) {
    const size_t dot = std::min(text.find('.', start), text.size());
    const std::string label = text.substr(start, dot - start);
    const bool letters = std::all_of(label.begin(), label.end(), [](unsigned char c) {
      return std::isalnum(c) || c == '-';
    });
    if (label.empty() || label.size() > kLongestLabel || !letters || label.front() == '-' ||
        label.back() == '-')
      return false;
    if (dot == text.size()) return true;
    start = dot + 1;
  }
}

}  // namespace

void DataExchange::Host(QLineEdit* edit, const std::string& value) {
  if (!m_bSaveAndValidate || m_bFailed) return;
  // Digits and dots alone can only mean an address.
  const bool numeric = value.find_first_not_of("0123456789.") == std::string::npos;
  if (numeric) {
    Ipv4(edit, value);
  } else if (!IsHostName(value)) {
    Fail(edit, "Enter an IPv4 address or a host name: letters, digits and hyphens, "
               "with dots between the parts.");
  }
}

void DataExchange::Ipv4(QLineEdit* edit, const std::string& value) {
  if (!m_bSaveAndValidate || m_bFailed) return;
  in_addr address{};
  if (inet_pton(AF_INET, value.c_str(), &address) != 1)
    Fail(edit, "Enter an IPv4 address: four numbers from 0 to 255 separated by dots.");
}
