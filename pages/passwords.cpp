// The pages "Пароли" (TabSheet8) and "Кассиры" (TabSheet12): operators'
// passwords and the names of the 13 cashiers. Operators go to the register by
// number: the chosen item index plus 1.
#include "app/Mainform.h"
#include "base/cp1251text.h"

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
  ErrorCounter = 0;
  ui::processMessages();
  const int op = tab8.ComboBox7->currentIndex() + 1;
  const QByteArray oldPassword = toCp1251(tab8.Edit19->text());
  const QByteArray newPassword = toCp1251(tab8.Edit20->text());
  SendChecked([&] {
    return SetOperatorPassword(nullptr, PrinterResultsx, 0, op, oldPassword.constData(),
                               newPassword.constData());
  });
  ui::processMessages();
  ui::showMessage(ErrorCounter == 0 ? QStringLiteral("Новый пароль установлен!")
                                    : QStringLiteral("Ошибка установки нового пароля кассира"));
}

void TForm1::Button23Click() {
  repaint();
  ErrorCounter = 0;
  ui::processMessages();
  const int op = tab8.ComboBox9->currentIndex() + 1;
  const QByteArray password = toCp1251(tab8.Edit24->text());
  SendChecked([&] { return ResetOperatorPassword(nullptr, PrinterResultsx, 0, op, password.constData()); });
  ui::processMessages();
  ui::showMessage(ErrorCounter == 0 ? QStringLiteral("Пароль обнулен, новое значение пароля - 9162")
                                    : QStringLiteral("Ошибка обнуления пароля кассира"));
}

void TForm1::StringGrid2SelectCell(int col, int row, bool& canSelect) {
  StringGrid* grid = tab12.StringGrid2;
  if (row > 0 && col <= 2) {
    canSelect = true;
    grid->setEditing(true);  // passwords and names are typed in
    return;
  }
  grid->setEditing(false);
  if (col == 3 && row != 0) {
    const QString text = grid->Cells(col, row);
    if (text == kSkip) grid->setCells(col, row, kWrite);
    else if (text == kWrite) grid->setCells(col, row, kSkip);
  }
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
