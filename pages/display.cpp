// The page "Индикаторы клиента" (TabSheet2): the scrolling display test, character and line output.
//
// The customer display has two rows of 20 characters. The scrolling test runs
// a 20-character window over the sample alphabet on each row in turn, letting
// the window process its messages between the commands so that Стоп can be
// pressed; the other two operations show one fixed text on both rows.
#include "app/Mainform.h"
#include "app/controls.h"
#include "base/cp1251text.h"
#include "regtest/scenario.h"

namespace {

const QString kSuccess = QStringLiteral("Тест индикаторов клиента - успешно");
const QString kFailure = QStringLiteral("Ошибка теста индикаторов клиента");
const QString kStopped = QStringLiteral("Тест остановлен");
const QString kNoCharacter = QStringLiteral("Введите символ для вывода на индикатор");

constexpr int kLineChars = 20;  // characters of one display row
constexpr int kWindows = 120;   // windows of the sample shown on each row per pass

using LineCommand = int (*)(WindowHandle, ResultHandler, int, const char*);

// Window k of the display sample (the register test's own): its 20
// characters from position k, in CP1251.
QByteArray SampleWindow(int k) { return toCp1251(regtest::DisplayWindow(k)); }

// Shows a text on one row. While the port is closed (the user disconnected
// during the test, which also asks it to stop) nothing can go out, and the
// test ends at its next check: no command and no message.
void ShowRow(TForm1& form, LineCommand command, const QByteArray& text) {
  if (!form.isConnected()) return;
  form.SendChecked([&] { return command(nullptr, PrinterResultsx, 0, text.constData()); });
}

void ClearRows(TForm1& form) {
  if (!form.isConnected()) return;
  form.SendChecked([] { return ClearDisplay(nullptr, PrinterResultsx, 0); });
}

// The page's controls as they are with no test running.
void ShowIdle(Ui::TabSheet2& page) {
  page.Button11->setEnabled(false);
  page.Button7->setEnabled(true);
  for (QWidget* group : {page.GroupBox1, page.GroupBox2, page.GroupBox3}) group->setEnabled(true);
}

}  // namespace

void TForm1::SetUpDisplayPage() {
  ConnectClicks({{tab2.Button7, &TForm1::Button7Click},
                 {tab2.Button11, &TForm1::Button11Click},
                 {tab2.Button8, &TForm1::Button8Click},
                 {tab2.Button9, &TForm1::Button9Click}});
  connect(ui.PageControl1, &PageControl::currentChanged, this, [this](int index) {
    if (ui.PageControl1->widget(index) == TabSheet(2)) TabSheet2Enter();
  });
}

void TForm1::Button7Click() {
  int passes = 0;
  if (!StrToInt(tab2.Edit2->text(), &passes)) {
    ui::showMessage(BadPassesText());
    return;
  }

  tab2.Button11->setEnabled(true);
  tab2.Button7->setEnabled(false);
  tab2.GroupBox1->setEnabled(true);
  tab2.GroupBox2->setEnabled(false);
  tab2.GroupBox3->setEnabled(false);
  int testErrors = 0;
  BusyMark = kBusyLoop;
  ClearRows(*this);

  auto stopped = [this] {
    ui::showMessage(kStopped);
    tab2.Button11->setEnabled(false);
    tab2.Button7->setEnabled(true);
    StopFlag = 0;
    ClearRows(*this);
    ShowIdle(tab2);
    BusyMark = kBusyNone;
  };

  for (int pass = 1; pass <= passes; ++pass) {
    ui::processMessages();
    if (StopFlag) return stopped();
    ErrorCounter = 0;

    // The lower row's errors show their messages but do not count.
    for (int k = 0; k < kWindows; ++k) {
      ui::processMessages();
      ErrorCounter = 0;
      ShowRow(*this, DisplayLowerLine, SampleWindow(k));
      ui::processMessages();
      if (StopFlag) return stopped();
      ErrorCounter = 0;
    }

    // The verdict follows the upper row of the last pass.
    testErrors = 0;
    for (int k = 0; k < kWindows; ++k) {
      ui::processMessages();
      ErrorCounter = 0;
      ShowRow(*this, DisplayUpperLine, SampleWindow(k));
      if (ErrorCounter > 0) ++testErrors;
      if (StopFlag) return stopped();
      ErrorCounter = 0;
    }
  }

  ui::showMessage(testErrors > 0 ? kFailure : kSuccess);
  ShowIdle(tab2);
  BusyMark = kBusyNone;
  ClearRows(*this);
}

void TForm1::Button11Click() { StopFlag = 1; }

void TForm1::TabSheet2Enter() {
  // A test still running keeps its buttons as they are.
  if (BusyMark != kBusyNone) return;
  ShowIdle(tab2);
}

void TForm1::Button8Click() {
  // CP1251 has one byte a character: the first byte is the first character.
  const QByteArray character = toCp1251(tab2.Edit4->text()).left(1);
  if (character.isEmpty()) {
    ui::showMessage(kNoCharacter);
    return;
  }
  const QByteArray line(kLineChars, character.at(0));
  ui::processMessages();
  ErrorCounter = 0;
  ShowRow(*this, DisplayLowerLine, line);
  // Only the upper row decides the verdict.
  ErrorCounter = 0;
  ShowRow(*this, DisplayUpperLine, line);
  ui::showMessage(ErrorCounter == 0 ? kSuccess : kFailure);
}

void TForm1::Button9Click() {
  const QByteArray lower = toCp1251(tab2.Edit6->text());
  const QByteArray upper = toCp1251(tab2.Edit5->text());
  ShowRow(*this, DisplayLowerLine, lower);
  // Only the upper row decides the verdict.
  ErrorCounter = 0;
  ShowRow(*this, DisplayUpperLine, upper);
  ui::showMessage(ErrorCounter == 0 ? kSuccess : kFailure);
}
