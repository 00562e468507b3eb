#include "sim/simwindow.h"

#include <pthread.h>

#include <atomic>
#include <thread>

#include <QApplication>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include "sim/register_model.h"

namespace km4410r::sim {

namespace {

QString receiptText(ReceiptKind k) {
  switch (k) {
    case ReceiptKind::NonFiscal: return QStringLiteral("Открытый чек: нефискальный");
    case ReceiptKind::Sale: return QStringLiteral("Открытый чек: фискальный");
    case ReceiptKind::Return: return QStringLiteral("Открытый чек: возврата");
    default: return QStringLiteral("Открытый чек: нет");
  }
}

QString silenceText(int answers) {
  if (answers < 0) return QStringLiteral("Молчание: до отмены");
  if (answers == 0) return QStringLiteral("Молчание: нет");
  return QStringLiteral("Молчание: осталось %1").arg(answers);
}

}  // namespace

SimWindow::SimWindow(Simulator& sim, QWidget* parent) : QWidget(parent), sim_(sim) {
  setObjectName(QStringLiteral("SimWindow"));
  setWindowTitle(QStringLiteral("Симулятор KM4410R"));
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  QWidget* tape = buildTape(fixed);  // first: the first in the focus chain
  auto* side = new QVBoxLayout;
  side->addWidget(buildPortLabel());
  side->addWidget(buildDisplay(fixed));
  side->addWidget(buildState());
  side->addWidget(buildFaults());
  side->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(tape, 1);
  layout->addLayout(side);

  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &SimWindow::refresh);
  timer_->start(100);
  refresh();
}

QWidget* SimWindow::buildTape(const QFont& fixed) {
  // The paper tape: kPaperWidth columns of a monospaced font, newest at the bottom.
  auto* tapeBox = new QGroupBox(QStringLiteral("Чековая лента"), this);
  tape_ = new QPlainTextEdit(tapeBox);
  tape_->setObjectName(QStringLiteral("Tape"));
  tape_->setAccessibleName(QStringLiteral("Чековая лента"));
  tape_->setReadOnly(true);
  tape_->setFont(fixed);
  tape_->setLineWrapMode(QPlainTextEdit::NoWrap);
  tape_->setMaximumBlockCount(20000);  // the oldest lines go: the window does not grow with a long run
  tape_->setStyleSheet(QStringLiteral("QPlainTextEdit { background: #fffdf4; color: black; }"));
  const QFontMetrics fm(fixed);
  tape_->setFixedWidth(fm.horizontalAdvance(QString(kPaperWidth, QLatin1Char('M'))) +
                       2 * static_cast<int>(tape_->document()->documentMargin()) + 2 * tape_->frameWidth() +
                       tape_->verticalScrollBar()->sizeHint().width() + 4);
  tape_->setMinimumHeight(fm.lineSpacing() * 30);
  auto* tapeLayout = new QVBoxLayout(tapeBox);
  tapeLayout->addWidget(tape_);
  return tapeBox;
}

QWidget* SimWindow::buildPortLabel() {
  const QString link =
      sim_.linkPath().empty() ? QString() : QStringLiteral(" (%1)").arg(QString::fromStdString(sim_.linkPath()));
  auto* port = new QLabel(QStringLiteral("Порт: %1%2").arg(QString::fromStdString(sim_.slavePath()), link), this);
  port->setObjectName(QStringLiteral("PortLabel"));
  port->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return port;
}

QWidget* SimWindow::buildDisplay(const QFont& fixed) {
  // The customer display: two rows of kDisplayWidth characters, green on black.
  auto* displayBox = new QGroupBox(QStringLiteral("Дисплей покупателя"), this);
  auto* displayLayout = new QVBoxLayout(displayBox);
  QFont big = fixed;
  big.setPointSizeF(fixed.pointSizeF() * 1.4);
  big.setBold(true);
  const char* rowNames[] = {"DisplayUpper", "DisplayLower"};
  const QString rowCaptions[] = {QStringLiteral("Верхняя строка дисплея"), QStringLiteral("Нижняя строка дисплея")};
  for (int i = 0; i < 2; ++i) {
    QLabel* row = rows_[i] = new QLabel(displayBox);
    row->setObjectName(QString::fromLatin1(rowNames[i]));
    // Read as shown, as any label that shows a value; the caption describes it.
    row->setAccessibleDescription(rowCaptions[i]);
    row->setTextFormat(Qt::PlainText);
    row->setFont(big);
    row->setStyleSheet(QStringLiteral("QLabel { background: black; color: #3cff5a; padding: 4px 8px; }"));
    row->setText(QString(kDisplayWidth, QLatin1Char('M')));
    row->setFixedSize(row->sizeHint());
    row->setText(QString(kDisplayWidth, QLatin1Char(' ')));
    displayLayout->addWidget(row);
  }
  shownAt_ = new QLabel(QStringLiteral("Изменён: —"), displayBox);
  shownAt_->setObjectName(QStringLiteral("DisplayTime"));
  displayLayout->addWidget(shownAt_);
  return displayBox;
}

QWidget* SimWindow::buildState() {
  auto* stateBox = new QGroupBox(QStringLiteral("Состояние"), this);
  auto* stateLayout = new QVBoxLayout(stateBox);
  receipt_ = new QLabel(stateBox);
  receipt_->setObjectName(QStringLiteral("ReceiptState"));
  paper_ = new QLabel(stateBox);
  paper_->setObjectName(QStringLiteral("PaperState"));
  cover_ = new QLabel(stateBox);
  cover_->setObjectName(QStringLiteral("CoverState"));
  silence_ = new QLabel(stateBox);
  silence_->setObjectName(QStringLiteral("SilenceState"));
  for (QLabel* l : {receipt_, paper_, cover_, silence_}) stateLayout->addWidget(l);
  return stateBox;
}

QWidget* SimWindow::buildFaults() {
  auto* faultBox = new QGroupBox(QStringLiteral("Неисправности"), this);
  auto* faultLayout = new QVBoxLayout(faultBox);
  paperOut_ = new QPushButton(QStringLiteral("Бумага кончилась"), faultBox);
  paperOut_->setObjectName(QStringLiteral("PaperOutButton"));
  coverOpen_ = new QPushButton(QStringLiteral("Крышка открыта"), faultBox);
  coverOpen_->setObjectName(QStringLiteral("CoverOpenButton"));
  for (QPushButton* b : {paperOut_, coverOpen_}) {
    b->setCheckable(true);
    faultLayout->addWidget(b);
  }
  auto* silenceRow = new QHBoxLayout;
  silenceButton_ = new QPushButton(QStringLiteral("Молчать"), faultBox);
  silenceButton_->setObjectName(QStringLiteral("SilenceButton"));
  silenceButton_->setAccessibleName(QStringLiteral("Молчать N ответов"));
  silentAnswers_ = new QSpinBox(faultBox);
  silentAnswers_->setObjectName(QStringLiteral("SilentAnswers"));
  silentAnswers_->setRange(1, 99);
  silentAnswers_->setValue(1);
  silentAnswers_->setAccessibleName(QStringLiteral("Молчать ответов"));
  auto* answers = new QLabel(QStringLiteral("ответов"), faultBox);
  answers->setBuddy(silentAnswers_);
  silenceRow->addWidget(silenceButton_);
  silenceRow->addWidget(silentAnswers_);
  silenceRow->addWidget(answers);
  silenceRow->addStretch(1);
  faultLayout->addLayout(silenceRow);

  connect(paperOut_, &QPushButton::toggled, this, [this](bool on) {
    sim_.withModel([on](RegisterModel& m) { m.setPaperOut(on); });
    refresh();
  });
  connect(coverOpen_, &QPushButton::toggled, this, [this](bool on) {
    sim_.withModel([on](RegisterModel& m) { m.setCoverOpen(on); });
    refresh();
  });
  connect(silenceButton_, &QPushButton::clicked, this, [this] {
    FaultSpec f;
    f.fault = Fault::Silence;
    f.count = silentAnswers_->value();
    sim_.addFault(f);
    refresh();
  });
  return faultBox;
}

void SimWindow::appendLines(const std::string& utf8, bool cut) {
  QTextCharFormat normal;
  normal.setForeground(Qt::black);
  QTextCharFormat faint;
  faint.setForeground(QColor(0x80, 0x80, 0x80));
  QTextCursor c(tape_->document());
  c.movePosition(QTextCursor::End);
  const QStringList lines = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).split(QLatin1Char('\n'));
  const QString cutText = QString::fromStdString(cutLine());
  // The text ends with a line break: the part after it is empty.
  for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
    if (!tape_->document()->isEmpty()) c.insertBlock();
    c.insertText(lines[i].isEmpty() ? QStringLiteral(" ") : lines[i], cut && lines[i] == cutText ? faint : normal);
  }
}

void SimWindow::append(const PrintedItem& item) {
  if (item.kind == PrintKind::Display) {
    for (int i = 0; i < 2; ++i) rows_[i]->setText(QString::fromStdString(item.rows[static_cast<size_t>(i)]));
    shownAt_->setText(QStringLiteral("Изменён: %1:%2:%3")
                          .arg(item.time.tm_hour, 2, 10, QLatin1Char('0'))
                          .arg(item.time.tm_min, 2, 10, QLatin1Char('0'))
                          .arg(item.time.tm_sec, 2, 10, QLatin1Char('0')));
    return;
  }
  appendLines(paperText(item), endsWithCut(item));
}

void SimWindow::refresh() {
  uint64_t missed = 0;
  const std::vector<PrintedItem> items = feed_.take(sim_, &missed);
  if (missed) appendLines(missedText(missed), false);
  for (const auto& item : items) append(item);
  if (!items.empty() || missed) {
    tape_->moveCursor(QTextCursor::End);
    tape_->ensureCursorVisible();
  }

  ReceiptKind kind = ReceiptKind::None;
  bool paperOut = false, coverOpen = false;
  sim_.withModel([&](RegisterModel& m) {
    kind = m.receiptKind();
    paperOut = m.paperOut();
    coverOpen = m.coverOpen();
  });
  receipt_->setText(receiptText(kind));
  paper_->setText(paperOut ? QStringLiteral("Бумага: кончилась") : QStringLiteral("Бумага: есть"));
  cover_->setText(coverOpen ? QStringLiteral("Крышка: открыта") : QStringLiteral("Крышка: закрыта"));
  silence_->setText(silenceText(sim_.faultsWaiting(Fault::Silence)));
  const QSignalBlocker b1(paperOut_), b2(coverOpen_);
  paperOut_->setChecked(paperOut);
  coverOpen_->setChecked(coverOpen);
}

int runSimWindow(int argc, char** argv, Simulator& sim, const sigset_t& stop, const std::function<void()>& tick) {
  QApplication app(argc, argv);
  SimWindow window(sim);
  // At the right edge of the screen: beside the tool, which opens at the left.
  window.adjustSize();
  const QRect screen = window.screen()->availableGeometry();
  window.move(screen.right() - window.frameGeometry().width() + 1, screen.top());
  window.show();
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, &app, [&tick] {
    if (tick) tick();
  });
  ticker.start(100);
  // A signal ends the window as it ends the simulator without one.
  std::atomic<bool> signalled{false};
  std::thread waiter([stop, &signalled] {
    int sig = 0;
    sigwait(&stop, &sig);
    signalled = true;
    QMetaObject::invokeMethod(qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  const int rc = app.exec();
  if (!signalled) pthread_kill(waiter.native_handle(), SIGTERM);  // blocked there: it ends the wait
  waiter.join();
  if (tick) tick();
  return rc;
}

}  // namespace km4410r::sim
