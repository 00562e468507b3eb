// The log operations of the page "Тест РРО": Stop, Clear and Save.
#include <QScrollBar>
#include <QTextBlock>

#include "app/Mainform.h"
#include "regtest/logfile.h"
#include "regtest/registertest.h"

void TForm1::Button3Click() { regtest::Run(*this).Start(); }

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
  if (regtest::RunObserver* observer = regtest::CurrentRunObserver()) observer->LogLine(line);
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
