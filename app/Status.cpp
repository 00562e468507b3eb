#include "app/Status.h"


#include "app/Mainform.h"
#include "regtest/scenario.h"

TForm4* Form4 = nullptr;

void PrinterResults3(RetData& data) {
  if (!Form4) return;
  Form4->LastAnswer = data;
  const QString message = FirstErrorMessage(data.ErrorFlags);
  if (message.isEmpty()) return;
  ui::showMessage(message);
  Form4->ErrorCounter++;
}

TForm4::TForm4(QWidget* parent) : QDialog(parent) {
  ui.setupUi(this);
  setWindowTitle(regtest::InvalidStateTitle());
  // Placed where it was designed, not centred.
  setAttribute(Qt::WA_Moved);
  move(234, 188);
  connect(ui.Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
}

int TForm4::ShowModal() { return ui::showModal(*this, *this); }

void TForm4::FormShow() { requested_ = false; }

void TForm4::FormActivate() {
  // One request per showing: the dialog is activated again when one of its
  // own message boxes closes, and a register that keeps failing must not
  // keep the user in a cycle of requests and messages.
  if (requested_) return;
  requested_ = true;

  ErrorCounter = 0;
  GetDiagnosticInfo(nullptr, PrinterResults3, 0, 1);
  if (ErrorCounter > 0) {
    ui::showMessage(regtest::InfoErrorText());
    return;
  }
  const QStringList lines = regtest::ReadinessProblems(LastAnswer.ErrorFlags);
  for (const QString& line : lines) ui.Memo1->appendPlainText(line);
}

void TForm4::Button1Click() { close(); }
