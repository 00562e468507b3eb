// The page "Денежный ящик, внос-вынос, обнуление артикулов" (TabSheet3):
// opening the cash drawer, service cash in and out, deleting the articles not
// sold since the last Z report. Each is one command, its input checked first.
#include <QLocale>
#include <clocale>
#include <cmath>
#include <string>

#include "app/Mainform.h"
#include "app/controls.h"
#include "base/cp1251text.h"

namespace {


// The PC's decimal separator (the user's locale, which the application takes
// over at start).
QChar PcDecimalSeparator() {
  const std::lconv* conv = std::localeconv();
  const char* point = conv ? conv->decimal_point : nullptr;
  if (point && point[0] != 0 && point[1] == 0) return QLatin1Char(point[0]);
  return QLatin1Char('.');
}

// Reads a floating-point number written in the PC's number format: blanks
// around it, an optional sign, digits with the PC's decimal separator, an
// optional exponent. False for any other text and for a value out of range.
bool ReadPcNumber(const QString& text, double* value) {
  const QString t = text.trimmed();
  const QChar separator = PcDecimalSeparator();
  std::string plain;  // the same number in the C form for strtod
  int i = 0;
  const int n = static_cast<int>(t.size());
  auto digit = [&](int at) { return at < n && t[at] >= QLatin1Char('0') && t[at] <= QLatin1Char('9'); };
  if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) plain += char(t[i++].unicode());
  int mantissaDigits = 0;
  for (; digit(i); ++i, ++mantissaDigits) plain += char(t[i].unicode());
  if (i < n && t[i] == separator) {
    plain += '.';
    for (++i; digit(i); ++i, ++mantissaDigits) plain += char(t[i].unicode());
  }
  if (mantissaDigits == 0) return false;
  if (i < n && (t[i] == QLatin1Char('e') || t[i] == QLatin1Char('E'))) {
    plain += 'e';
    ++i;
    if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) plain += char(t[i++].unicode());
    if (!digit(i)) return false;
    for (; digit(i); ++i) plain += char(t[i].unicode());
  }
  if (i != n) return false;
  bool ok = false;
  const double v = QLocale::c().toDouble(QString::fromStdString(plain), &ok);
  if (!ok || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

}  // namespace

void TForm1::SetUpDrawerPage() {
  tab3.ComboBox6->setInsertPolicy(QComboBox::NoInsert);  // a typed text stays a text
  tab3.ComboBox6->setCurrentIndex(0);
  ConnectClicks({{tab3.Button10, &TForm1::Button10Click},
                 {tab3.Button20, &TForm1::Button20Click},
                 {tab3.Button21, &TForm1::Button21Click}});
}

void TForm1::ResetServiceCashChoice() {
  QComboBox* cash = tab3.ComboBox6;
  if (cash->count() == 0) return;
  cash->setCurrentIndex(0);
  if (cash->isEditable()) cash->setEditText(cash->itemText(0));
}

void TForm1::Button10Click() {
  ErrorCounter = 0;
  BusyScope busy(*this, kBusyDrawer);
  const QString badPulse = QStringLiteral("Некорректная длина импульса \n   исправьте!!!");
  int pulse = 0;
  if (!StrToInt(tab3.Edit9->text(), &pulse)) {
    ui::showMessage(badPulse);
    return;
  }
  ui::processMessages();
  if (pulse < 5 || pulse > 150) {
    ui::showMessage(badPulse);
    return;
  }
  ui::processMessages();
  SendAndTell([pulse] { return OpenCashDrawer(nullptr, PrinterResultsx, 0, pulse); },
              QStringLiteral("Открыть ящик - успешно"), QStringLiteral("Ошибка открытия ящика"));
}

void TForm1::Button20Click() {
  ErrorCounter = 0;
  BusyScope busy(*this, kBusyDrawer);
  double amount = 0;
  if (!ReadPcNumber(tab3.Edit17->text(), &amount)) {
    ui::showMessage(QStringLiteral("Некорректная сумма для вноса/выноса \n   исправьте!!!"));
    return;
  }
  ui::processMessages();
  if (amount <= 0) {
    ui::showMessage(QStringLiteral("Некорректная сумма для вноса/выноса\n   исправьте!!!"));
    return;
  }
  ui::processMessages();
  if (ItemIndex(tab3.ComboBox6) == 1) amount = -amount;  // cash out
  SendAndTell([amount] { return ServiceCashInOut(nullptr, PrinterResultsx, 0, amount); },
              QStringLiteral("Служебный внос/вынос - успешно"), QStringLiteral("Ошибка "));
}

void TForm1::Button21Click() {
  const QByteArray password = toCp1251(tab3.Edit18->text());
  SendAndTell([&password] { return DeleteArticles(nullptr, PrinterResultsx, 0, 0, password.constData()); },
              QStringLiteral("Удаление артикулов - успешно"), QStringLiteral("Ошибка "));
}
