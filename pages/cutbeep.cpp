// The page "Обрезка чека и звуковой сигнал" (TabSheet7): a single paper cut or
// beep, and a loop of either with a pause between the passes.
#include "app/Mainform.h"
#include "app/controls.h"

void TForm1::SingleTest(QLabel* result, int (*send)(WindowHandle, ResultHandler, int),
                        const QString& success, const QString& failure) {
  result->setText(QString());
  repaint();
  ErrorCounter = 0;
  ui::processMessages();
  SendChecked([send] { return send(nullptr, PrinterResultsx, 0); });
  ui::processMessages();
  result->setText(ErrorCounter > 0 ? failure : success);
}

void TForm1::LoopTest(QLabel* result, QLabel* count, QComboBox* passesBox, QLineEdit* pauseEdit,
                      int (*send)(WindowHandle, ResultHandler, int), const QString& success,
                      const QString& failure) {
  result->setText(QString());
  count->setText(QString());
  repaint();
  const int passes = passesBox->currentIndex() + 1;
  QWidget* const locked[] = {tab7.Button16, tab7.Button17, tab7.Button18, tab7.Button19,
                             pauseEdit, passesBox};
  for (QWidget* w : locked) w->setEnabled(false);
  BusyMark = kBusyLoop;
  int failed = 0;
  bool finished = true;
  const QString badPause = BadPassesText();
  // A negative pause is no sleep time: refused before anything is sent.
  int pause = 0;
  if (StrToInt(pauseEdit->text(), &pause) && pause < 0) {
    ui::showMessage(badPause);
    finished = false;
  }
  for (int pass = 1; finished && pass <= passes; ++pass) {
    ui::processMessages();
    ErrorCounter = 0;
    SendChecked([send] { return send(nullptr, PrinterResultsx, 0); });
    if (ErrorCounter > 0) ++failed;
    ui::processMessages();
    // Read before every sleep: the edit may change between the passes.
    if (!StrToInt(pauseEdit->text(), &pause) || pause < 0) {
      ui::showMessage(badPause);
      finished = false;
      break;
    }
    ui::sleep(pause);
  }
  if (finished) {
    result->setText(failed > 0 ? failure : success);
    count->setText(QString::number(failed));
  }
  for (QWidget* w : locked) w->setEnabled(true);
  BusyMark = kBusyNone;
}

void TForm1::Button16Click() {
  SingleTest(tab7.Label16, CutPaper, QStringLiteral("Тест отрезки чека - успешно"),
             QStringLiteral("Ошибка теста отрезки чека"));
}

void TForm1::Button19Click() {
  SingleTest(tab7.Label25, Beep, QStringLiteral("Тест звукового сигнала - успешно"),
             QStringLiteral("Ошибка теста звукового сигнала"));
}

void TForm1::Button17Click() {
  LoopTest(tab7.Label17, tab7.Label19, tab7.ComboBox4, tab7.Edit10, CutPaper,
           QStringLiteral("Тест обрезки чека - успешно"), QStringLiteral("Ошибка теста обрезки чека"));
}

void TForm1::Button18Click() {
  LoopTest(tab7.Label22, tab7.Label24, tab7.ComboBox5, tab7.Edit11, Beep,
           QStringLiteral("Тест звукового сигнала - успешно"),
           QStringLiteral("Ошибка теста звукового сигнала"));
}
