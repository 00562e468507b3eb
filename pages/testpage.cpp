// The page "Тест РРО" (TabSheet1): the register test's window adapter (Start
// runs the scenario over the page's inputs and log), Stop, Clear and Save.
#include <QScrollBar>
#include <QTextBlock>

#include "app/Mainform.h"
#include "app/Status.h"
#include "app/controls.h"
#include "history/history.h"
#include "regtest/logfile.h"
#include "regtest/scenario.h"

// The scenario over the page: inputs from its controls and the passwords
// page, the log in RichEdit1, the progress in LabelProgress, messages as
// boxes, the main window's last answer, error counter, stop flag and busy mark.
class TForm1::TestPageAdapter final : public regtest::Source, public regtest::Output {
 public:
  TestPageAdapter(TForm1& form, history::RunWriter& history) : f_(form), history_(history) {}

  regtest::Inputs Read() override {
    const TForm1::Shared shared = f_.shared();
    regtest::Inputs in;
    in.passesText = f_.tab1.ComboBox2->currentText();
    in.pauseText = f_.tab1.Edit1->text();
    in.secondPhase = !f_.tab1.CheckBox1->isChecked();
    in.cashier = shared.cashier;
    in.cashierPassword = shared.cashierPassword;
    in.programmingPassword = shared.programmingPassword;
    in.reportsPassword = shared.reportsPassword;
    return in;
  }

  bool Command(const std::function<int(ResultHandler)>& send, bool silent) override {
    f_.ErrorCounter = 0;
    f_.SendChecked([&] { return send(silent ? PrinterResultsy : PrinterResults); });
    return f_.ErrorCounter < 1;
  }
  const RetData& LastAnswer() const override { return f_.LastAnswer; }
  void Log(const QString& line) override { f_.AppendLog(line); }
  void Scroll() override { f_.ScrollLogToEnd(); }
  void Repaint() override {
    f_.tab1.RichEdit1->viewport()->update();
    f_.ScrollLogToEnd();
  }
  void Message(const QString& text) override { ui::showMessage(text); }
  void ShowInvalidState() override {
    if (Form4) Form4->ShowModal();
  }
  bool StopRequested() override {
    ui::processMessages();
    return f_.StopFlag != 0;
  }
  void Sleep(int ms) override { ui::sleep(ms); }
  QDateTime Now() override { return ui::now(); }
  void Busy(bool busy) override { f_.BusyMark = busy ? kBusyRegisterTest : kBusyNone; }
  void Running() override {
    f_.tab1.Button3->setEnabled(false);
    f_.tab1.Button4->setEnabled(true);
    f_.StopFlag = 0;
  }
  void StepEnded(const regtest::StepInfo& s, int errorsAfter) override { history_.StepEnded(s, errorsAfter); }
  void StepBegun(const regtest::StepInfo& s) override {
    history_.StepBegun(s);
    f_.tab1.LabelProgress->setText(QStringLiteral("Проход %1 из %2: %3. Ошибок: %4")
                                       .arg(s.pass)
                                       .arg(s.passes)
                                       .arg(s.title)
                                       .arg(s.errorsBefore));
  }
  void Link(const regtest::LinkEvent& e) override { history_.Link(e); }
  void Ended(regtest::RunEnd end, int errors, int passes) override {
    using regtest::RunEnd;
    history_.Ended(end, errors);
    f_.BusyMark = kBusyNone;
    switch (end) {
      case RunEnd::Completed:
        f_.tab1.LabelProgress->setText(
            QStringLiteral("Тест завершён: проходов %1, ошибок %2").arg(passes).arg(errors));
        Ready();
        break;
      case RunEnd::Stopped:
        f_.StopFlag = 0;
        f_.tab1.LabelProgress->setText(QStringLiteral("Тест остановлен"));
        break;
      case RunEnd::Aborted:
        // The buttons stay as during the run until Stop is pressed.
        f_.tab1.LabelProgress->setText(QStringLiteral("Тест прерван. Ошибок: %1").arg(errors));
        break;
      case RunEnd::NotReady:
        Ready();  // the log keeps every earlier line
        break;
      case RunEnd::HeaderRefused:
        Ready();
        f_.tab1.LabelProgress->setText(QStringLiteral("Тест не начат: заголовок чека не запрограммирован"));
        break;
      case RunEnd::NoInformation:
      case RunEnd::BadInput:
        break;
    }
  }

 private:
  void Ready() {
    f_.tab1.Button3->setEnabled(true);
    f_.tab1.Button4->setEnabled(false);
  }
  TForm1& f_;
  history::RunWriter& history_;
};

void TForm1::Button3Click() {
  // The run is kept as it goes; the service journal rests meanwhile.
  history::RunWriter writer(history::Store::Shared());
  writer.Start(history::ThisStation(QStringLiteral("km4410r " KM_VERSION), connectedPort_, connectedBaud_),
               tab1.ComboBox2->currentText().trimmed().toInt(), history::RunKind::Window);
  struct Running {
    TForm1& f;
    ~Running() { f.runWriter_ = nullptr; }
  } running{*this};
  runWriter_ = &writer;
  TestPageAdapter page(*this, writer);
  regtest::Scenario(page, page).Run();
  runWriter_ = nullptr;
  SyncHistory(2000);
}

void TForm1::Button4Click() {
  // A running test sees the flag at its next stop check.
  tab1.Button4->setEnabled(false);
  tab1.Button3->setEnabled(true);
  StopFlag = 1;
}

void TForm1::Button6Click() { tab1.RichEdit1->clear(); }

void TForm1::Button5Click() {
  const QString path = SaveDialog1Execute();
  if (path.isEmpty()) return;
  QString reason;
  if (!regtest::SaveLogFile(path, LogLines(), &reason)) {
    ui::showMessage(QStringLiteral("Не удалось сохранить протокол теста в файл\n%1\n%2.\n"
                                   "Прежний файл не изменён, протокол на экране сохранён.")
                        .arg(path, reason));
  }
}

void TForm1::AppendLog(const QString& line) {
  tab1.RichEdit1->appendPlainText(line);
  ScrollLogToEnd();
}

void TForm1::ScrollLogToEnd() {
  QScrollBar* bar = tab1.RichEdit1->verticalScrollBar();
  bar->setValue(bar->maximum());
}

QStringList TForm1::LogLines() const {
  QStringList lines;
  const QTextDocument* document = tab1.RichEdit1->document();
  if (document->isEmpty()) return lines;  // no lines at all
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
    lines << block.text();
  return lines;
}
