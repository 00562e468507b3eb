// The page "Общая информация" (TabSheet4): the register's identity and state,
// filled by the page control's change handler each time the page comes to
// the front. The page has no button; its edits and check boxes only show.
#include "app/Mainform.h"
#include "app/controls.h"
#include "base/cp1251text.h"
#include "regtest/scenario.h"

void TForm1::SetUpInfoPage() {
  // The progress text: red, 15 pixels high.
  QFont big = tab4.Label26->font();
  big.setPixelSize(15);
  tab4.Label26->setFont(big);
  QPalette red = tab4.Label26->palette();
  red.setColor(QPalette::WindowText, QColor(255, 0, 0));
  tab4.Label26->setPalette(red);
}

void TForm1::PageControl1Change() {
  // The service cash choice of the drawer page starts again at "cash in"
  // whichever page came to the front.
  ResetServiceCashChoice();
  if (ui.PageControl1->currentWidget() == TabSheet(13)) HistoryPageEnter();
  if (ui.PageControl1->currentWidget() != TabSheet(4)) return;

  tab4.Label26->setText(QStringLiteral("Ждите !!!"));
  repaint();  // seen while the exchanges below hold the window
  const auto failed = [this] {
    if (ErrorCounter <= 0) return false;
    ui::showMessage(regtest::InfoErrorText());
    tab4.Label26->setText(QString());
    return true;
  };

  ErrorCounter = 0;
  SendChecked([] { return GetDiagnosticInfo(nullptr, PrinterResultsx, 0, 1); });
  if (failed()) return;
  DiagnosticInfo info;
  ParseDiagnosticInfo(LastAnswer, &info);
  tab4.Edit12->setText(fromCp1251(info.serialNumber));
  tab4.Edit13->setText(fromCp1251(info.fiscalNumber));
  tab4.Edit15->setText(fromCp1251(info.firmware));
  tab4.Edit8->setText(fromCp1251(info.switches));

  ErrorCounter = 0;
  SendChecked([] { return GetTaxNumber(nullptr, PrinterResultsx, 0); });
  if (failed()) return;
  // Field 1 tells the kind of the number: "0" a tax payer's number, anything
  // else an identification number. Without it the kind is unknown.
  if (LastAnswer.FieldCount >= 2) {
    const QString kind = AnswerField(LastAnswer, 1);
    const QString prefix = kind.startsWith(QLatin1Char('0')) ? QStringLiteral("ПН") : QStringLiteral("IД");
    tab4.Edit14->setText(prefix + AnswerField(LastAnswer, 0));
  } else {
    tab4.Edit14->setText(QString());
  }

  ErrorCounter = 0;
  SendChecked([] { return GetTaxRates(nullptr, PrinterResultsx, 0); });
  if (failed()) return;
  tab4.Edit16->setText(fromCp1251(LastAnswer.AnswerText));

  // The register's state as the last answer reports it.
  const uint32_t flags = LastAnswer.ErrorFlags;
  const bool fiscalOpen = (flags & kFlagFiscalOpen) != 0;
  const bool refund = (flags & kFlagReturnReceipt) != 0;
  tab4.CheckBox2->setChecked((flags & kFlagFiscalized) != 0);
  tab4.CheckBox5->setChecked((flags & kFlagNonFiscalOpen) != 0);
  tab4.CheckBox4->setChecked(fiscalOpen && refund);
  tab4.CheckBox3->setChecked(fiscalOpen && !refund);
  tab4.Label26->setText(QString());
}
