// The page "Установка даты-времени и налоги" (TabSheet11): the clock, setting and reading the time, the tax rates.
#include "app/Mainform.h"

#include <QSignalBlocker>

void TForm1::SetUpClockAndTaxesPage() {
  tab11.StringGrid1->setFixed(1, 1);
  tab11.StringGrid1->setAccessibleName(tab11.LabelTaxGroups->text());
}

void TForm1::RestoreClockAndTaxesDefaults() {
  DateChosenMark = 0;
  TimeEditedMark = 0;

  const QDateTime now = ui::now();
  tab11.Label59->setText(now.date().toString(QStringLiteral("dd.MM.yy")));
  {
    // Filled by the program, not edited by the user: the marks stay clear.
    const QSignalBlocker dateBlocker(tab11.DateEdit3);
    const QSignalBlocker timeBlocker(tab11.Edit39);
    tab11.DateEdit3->setDate(now.date());
    tab11.Edit39->setText(now.time().toString(QStringLiteral("hh:mm")));
  }

  StringGrid* taxes = tab11.StringGrid1;
  taxes->setColumnCount(4);
  taxes->setRowCount(6);
  const QStringList heads = {QStringLiteral("№"), QStringLiteral("Group"),
                             QStringLiteral("Rate"), QStringLiteral("Action")};
  const QStringList letters = {QStringLiteral("А"), QStringLiteral("Б"), QStringLiteral("В"),
                               QStringLiteral("Г"), QStringLiteral("Д")};
  const QStringList rates = {QStringLiteral("20.00"), QStringLiteral("00.00"),
                             QStringLiteral("00.00"), QStringLiteral("00.00"),
                             QStringLiteral("UnTaxed")};
  for (int c = 0; c < 4; ++c) taxes->setCells(c, 0, heads[c]);
  for (int r = 1; r <= 5; ++r) {
    taxes->setCells(0, r, QString::number(r));
    taxes->setCells(1, r, letters[r - 1]);
    taxes->setCells(2, r, rates[r - 1]);
    taxes->setCells(3, r, QStringLiteral("Разрешён"));
  }

}
void TForm1::Button31Click() {}
void TForm1::Button30Click() {}
void TForm1::RxClock1Click() {}
void TForm1::Edit39Change() {}
void TForm1::Button36Click() {}
void TForm1::Button33Click() {}
void TForm1::Button35Click() {}
void TForm1::RxClock1GetTime(QDateTime&) {}
void TForm1::DateEdit3AcceptDate(QDate&, bool&) {}
void TForm1::StringGrid1SelectCell(int, int, bool&) {}
