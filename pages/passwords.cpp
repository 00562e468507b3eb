// The pages "Пароли" (TabSheet8) and "Кассиры" (TabSheet12): operators'
// passwords and the names of the 13 cashiers. Operators go to the register by
// number: the chosen item index plus 1.
#include "app/Mainform.h"
#include "base/cp1251text.h"
#include "regtest/scenario.h"

namespace {

const QString kWrite = QStringLiteral("выполнить");
const QString kSkip = QStringLiteral("не выполнять");
constexpr int kCashiers = 13;

}  // namespace

void TForm1::ComboBox7Change() {
  if (tab8.ComboBox7->currentIndex() >= 0) tab8.Button22->setEnabled(true);
}

void TForm1::ComboBox9Change() {
  if (tab8.ComboBox9->currentIndex() >= 0) tab8.Button23->setEnabled(true);
}

void TForm1::Button22Click() {
  repaint();
  ui::processMessages();
  const int op = tab8.ComboBox7->currentIndex() + 1;
  const QByteArray oldPassword = toCp1251(tab8.Edit19->text());
  const QByteArray newPassword = toCp1251(tab8.Edit20->text());
  SendAndTell(
      [&] {
        return SetOperatorPassword(nullptr, PrinterResultsx, 0, op, oldPassword.constData(),
                                   newPassword.constData());
      },
      QStringLiteral("Новый пароль установлен!"), QStringLiteral("Ошибка установки нового пароля кассира"));
}

void TForm1::Button23Click() {
  repaint();
  ui::processMessages();
  const int op = tab8.ComboBox9->currentIndex() + 1;
  const QByteArray password = toCp1251(tab8.Edit24->text());
  SendAndTell([&] { return ResetOperatorPassword(nullptr, PrinterResultsx, 0, op, password.constData()); },
              QStringLiteral("Пароль обнулен, новое значение пароля - %1")
                  .arg(QLatin1String(regtest::kDefaultPassword)),
              QStringLiteral("Ошибка обнуления пароля кассира"));
}

void TForm1::StringGrid2SelectCell(int col, int row, bool& canSelect) {
  // Numbers, passwords and names are typed in; "Запись" is switched.
  tab12.StringGrid2->typeOrToggle(col, row, col <= 2, canSelect, 3, kSkip, kWrite);
}

void TForm1::Button34Click() {
  StringGrid* grid = tab12.StringGrid2;
  ErrorCounter = 0;
  for (int row = 1; row <= kCashiers; ++row) {
    SendChecked([row] { return GetOperatorInfo(nullptr, PrinterResults, 0, row); });
    if (ErrorCounter > 0) {
      ui::showMessage(QStringLiteral("Ошибка чтения информации об операторе!"));
      return;
    }
    // An answer without the name field leaves the name shown as it was.
    if (LastAnswer.FieldCount > 6) grid->setCells(2, row, fromCp1251(LastAnswer.Fields[6]));
  }
  ui::showMessage(QStringLiteral("Успешно!"));
}

void TForm1::Button32Click() {
  StringGrid* grid = tab12.StringGrid2;
  ErrorCounter = 0;
  for (int row = 1; row <= kCashiers; ++row) {
    if (grid->Cells(3, row) == kSkip) continue;
    const QByteArray password = toCp1251(grid->Cells(1, row));
    const QByteArray name = toCp1251(grid->Cells(2, row));
    SendChecked([&] {
      return SetOperatorName(nullptr, PrinterResults, 0, row, password.constData(), name.constData());
    });
    if (ErrorCounter > 0) {
      ui::showMessage(QStringLiteral("Ошибка записи информации об операторе!"));
      return;
    }
  }
  ui::showMessage(QStringLiteral("Успешно!"));
}
