// The pages "Управление параметрами сети" (TabSheet9) and "Чтение ID_DEV и состояние модема" (TabSheet10).
//
// The network module carries addresses and numbers as upper-case hexadecimal
// digits: an address as 8 digits, first octet first (192.168.0.1 is
// C0A80001); a 16-bit number as 4 digits, low byte first (8080 is 901F).
// The pages show them dotted and in decimal.
#include <QByteArray>
#include <algorithm>
#include <QList>

#include "app/Mainform.h"
#include "app/controls.h"
#include "base/cp1251text.h"
#include "driver/hexdigit.h"

namespace {

const QString kTimeout = QStringLiteral("Ошибка выполнения команды. Таймаут");
const QString kFailed = QStringLiteral("Ошибка выполнения команды!");
const QString kSuccess = QStringLiteral("Успешно!");
const QString kBadAnswer =
    QStringLiteral("Информация переданная регистратором неверна. Чтение данных остановлено.");
const QString kBadAddress = QStringLiteral("Некорректный IP-адрес. Ошибка!");
const QString kBadPort = QStringLiteral("Некорректный номер порта. Ошибка!");
const QString kBadPeriod =
    QStringLiteral("Некорректная величина параметра Периодичность связи. Ошибка!");
const QString kBadRetry =
    QStringLiteral("Некорректная величина параметра Повторной попытки. Ошибка!");
const QString kCheckRegister = QStringLiteral("Проверка состояния регистратора:\n  ");
const QString kIdCaption = QStringLiteral("Значение ID_DEV (Hex): ");


// Runs one command; false when the driver refused to send it (the refusal
// has been reported and counted, the last answer is not this command's).
bool Exchange(TForm1& form, const std::function<int()>& send) {
  int rc = 0;
  form.SendChecked([&] { return rc = send(); });
  return rc == 0;
}

// The answer's fields as they came (they live in driver buffers that the
// next exchange overwrites).
QList<QByteArray> AnswerFields(const RetData& answer) {
  QList<QByteArray> fields;
  for (int i = 0; i < answer.FieldCount && i < kMaxFields; ++i)
    fields << QByteArray(answer.Fields[i] ? answer.Fields[i] : "");
  return fields;
}

// The first n characters of a field as hex digits; false when one is
// missing or not a digit.
bool HexDigits(const QByteArray& field, int n, int* digits) {
  if (field.size() < n) return false;
  for (int i = 0; i < n; ++i) {
    digits[i] = HexDigit(field.at(i), HexLetters::kUpperOnly);
    if (digits[i] < 0) return false;
  }
  return true;
}

// An address field (8 digits) as dotted octets.
bool AddressText(const QByteArray& field, QString* text) {
  int d[8];
  if (!HexDigits(field, 8, d)) return false;
  QStringList octets;
  for (int i = 0; i < 8; i += 2) octets << QString::number(d[i] * 16 + d[i + 1]);
  *text = octets.join(QLatin1Char('.'));
  return true;
}

// A 16-bit field (4 digits, low byte first) in decimal.
bool NumberText(const QByteArray& field, QString* text) {
  int d[4];
  if (!HexDigits(field, 4, d)) return false;
  *text = QString::number(d[2] * 4096 + d[3] * 256 + d[0] * 16 + d[1]);
  return true;
}

// Appends a dotted address as 8 digits. An address is four octets of 0 to
// 255; anything else is refused with `*error` before anything is sent.
bool AppendAddress(QByteArray& data, const QString& text, QString* error) {
  const QStringList parts = text.split(QLatin1Char('.'));
  for (const QString& part : parts) {
    if (part.trimmed().isEmpty()) {
      *error = kBadAddress;
      return false;
    }
    int octet = 0;
    if (!StrToInt(part, &octet)) {
      *error = NotAnInteger(part);
      return false;
    }
    if (octet < 0 || octet > 255) {
      *error = kBadAddress;
      return false;
    }
    data += QByteArray::number(octet, 16).toUpper().rightJustified(2, '0');
  }
  if (parts.size() != 4) {
    *error = kBadAddress;
    return false;
  }
  return true;
}

// Appends a number of 0 to 65535 as 4 digits, low byte first.
bool AppendNumber(QByteArray& data, const QString& text, const QString& outOfRange,
                  QString* error) {
  int value = 0;
  if (!StrToInt(text, &value)) {
    *error = NotAnInteger(text);
    return false;
  }
  if (value < 0 || value > 65535) {
    *error = outOfRange;
    return false;
  }
  const QByteArray digits = QByteArray::number(value, 16).toUpper().rightJustified(4, '0');
  data += digits.mid(2, 2) + digits.left(2);
  return true;
}

// The device id as the register gives it, in decimal: a 32-bit value, signed
// or not.
bool DeviceIdValue(const QString& text, uint32_t* value) {
  int signedValue = 0;
  if (StrToInt(text, &signedValue)) {
    *value = static_cast<uint32_t>(signedValue);
    return true;
  }
  const QString t = text.trimmed();
  if (t.isEmpty()) return false;
  for (QChar c : t)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  bool ok = false;
  const qulonglong u = t.toULongLong(&ok, 10);
  if (!ok || u > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(u);
  return true;
}

}  // namespace

void TForm1::SetUpNetworkPages() {
  ConnectClicks({{tab9.Button26, &TForm1::Button26Click},
                 {tab9.Button27, &TForm1::Button27Click},
                 {tab9.Button37, &TForm1::Button37Click},
                 {tab10.Button28, &TForm1::Button28Click},
                 {tab10.Button29, &TForm1::Button29Click}});
}

bool TForm1::NetworkRead(const std::function<int()>& send, const QString& failure) {
  ErrorCounter = 0;
  if (!Exchange(*this, send)) return false;
  if (LastAnswer.ErrorFlags & kFlagTimeout) {
    ui::showMessage(kTimeout);
    return false;
  }
  if (ErrorCounter > 0) {
    ui::showMessage(failure);
    return false;
  }
  return true;
}

void TForm1::Button26Click() {
  if (!NetworkRead([] { return ReadNetworkSettings(nullptr, PrinterResults, 0); }, kFailed)) return;
  const QList<QByteArray> fields = AnswerFields(LastAnswer);
  // A missing field reads as one without digits.
  auto field = [&](int i) { return i < fields.size() ? fields.at(i) : QByteArray(); };
  if (fields.isEmpty()) {
    ui::showMessage(kBadAnswer);
    return;
  }
  tab9.CheckBox7->setChecked(field(0) != "0");

  // Fields 1 to 4 the addresses, 5 to 7 the numbers, each shown as it is
  // read; the first that cannot be read stops the reading.
  QLineEdit* const edits[] = {tab9.Edit27, tab9.Edit28, tab9.Edit29, tab9.Edit30,
                              tab9.Edit31, tab9.Edit33, tab9.Edit34};
  for (int i = 0; i < 7; ++i) {
    QString text;
    if (!(i < 4 ? AddressText(field(1 + i), &text) : NumberText(field(1 + i), &text))) {
      ui::showMessage(kBadAnswer);
      return;
    }
    edits[i]->setText(text);
  }
  ui::showMessage(kSuccess);
}

void TForm1::Button27Click() {
  ErrorCounter = 0;
  QByteArray data = tab9.CheckBox7->isChecked() ? "1," : "0,";
  QString error;
  bool ok = true;
  for (QLineEdit* edit : {tab9.Edit27, tab9.Edit28, tab9.Edit29, tab9.Edit30}) {
    ok = ok && AppendAddress(data, edit->text(), &error);
    if (ok) data += ',';
  }
  ok = ok && AppendNumber(data, tab9.Edit31->text(), kBadPort, &error);
  if (ok) data += ',';
  ok = ok && AppendNumber(data, tab9.Edit33->text(), kBadPeriod, &error);
  if (ok) data += ',';
  ok = ok && AppendNumber(data, tab9.Edit34->text(), kBadRetry, &error);
  if (!ok) {
    ui::showMessage(error);
    return;
  }

  if (!Exchange(*this, [&] {
        return SendCommand(nullptr, PrinterResults, 0, kCmdWriteNetworkSettings, data.constData());
      }))
    return;
  if (LastAnswer.ErrorFlags & kFlagTimeout) ui::showMessage(kTimeout);
  else if (ErrorCounter == 0) ui::showMessage(kSuccess);
  // Any other error has been told by the result handler.
}

void TForm1::Button37Click() {
  ErrorCounter = 0;
  Exchange(*this, [] { return SendCommand(nullptr, PrinterResults, 0, kCmdModemReport, "1"); });
}

void TForm1::Button28Click() {
  ErrorCounter = 0;
  const char* print = tab10.CheckBox8->isChecked() ? "1" : "0";
  if (!Exchange(*this, [print] { return SendCommand(nullptr, PrinterResults, 0, kCmdModemReport, print); }))
    return;
  // The page shows the answer whatever its flags; fields it lacks show empty.
  const QList<QByteArray> fields = AnswerFields(LastAnswer);
  auto field = [&](int i) { return i < fields.size() ? fields.at(i) : QByteArray(); };
  tab10.Edit32->setText(fromCp1251(field(1).constData()));
  tab10.Edit35->setText(fromCp1251(field(2).constData()));
  tab10.Edit36->setText(fromCp1251(field(3).constData()));
  tab10.Edit37->setText(fromCp1251(field(4).constData()));

  const QByteArray state = field(0);
  auto digit = [&](int i) { return i < state.size() ? std::max(0, HexDigit(state.at(i), HexLetters::kUpperOnly)) : 0; };
  const int bits = digit(0) * 16 + digit(1);
  QCheckBox* const boxes[] = {tab10.CheckBox9,  tab10.CheckBox10, tab10.CheckBox12,
                              tab10.CheckBox11, tab10.CheckBox13, tab10.CheckBox14,
                              tab10.CheckBox15, tab10.CheckBox16};
  for (int bit = 0; bit < 8; ++bit) boxes[bit]->setChecked(bits & (1 << bit));
}

void TForm1::Button29Click() {
  if (!NetworkRead([] { return ReadDeviceId(nullptr, PrinterResults, 0); }, kCheckRegister)) return;
  const QList<QByteArray> fields = AnswerFields(LastAnswer);
  tab10.Edit38->setText(fields.isEmpty() ? QString() : fromCp1251(fields.at(0).constData()));
  const QString text = tab10.Edit38->text();
  uint32_t id = 0;
  if (!DeviceIdValue(text, &id)) {
    ui::showMessage(NotAnInteger(text));
    return;
  }
  tab10.Label55->setText(kIdCaption + QString::asprintf("%08X", id));
  ui::showMessage(kSuccess);
}
