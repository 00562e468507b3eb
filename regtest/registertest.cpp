#include "regtest/registertest.h"

#include <QLocale>
#include <QScrollBar>

#include "app/Mainform.h"
#include "app/Status.h"
#include "app/controls.h"
#include "app/cp1251text.h"

namespace regtest {

namespace {

const QString kStepSeparator = QStringLiteral("******************************");   // 30
const QString kPassBanner = QStringLiteral("***********************************");    // 35
const QString kBlankLine = QStringLiteral(" ");

// The fixed values of the receipts.
constexpr int kArticle = 100;
constexpr char kTaxGroupA = '\xC0';  // Cyrillic capital А in CP1251
constexpr int kArticleGroup = 1;
constexpr double kArticlePrice = 1.25;
constexpr uint32_t kTill = 1;
constexpr int kDisplayWindows = 120;
constexpr int kDisplaySendsPerWindow = 20;
constexpr int kTimerWaitMs = 60 * 1000;
int gTimerWaitMs = kTimerWaitMs;
RunObserver* gObserver = nullptr;

const char* kArticleName() {
  static const QByteArray name = toCp1251(QStringLiteral("Кулебяка"));
  return name.constData();
}

const QByteArray& FiscalText() {
  static const QByteArray text = toCp1251(QStringLiteral("Фискальный  ТеКсТ"));
  return text;
}

}  // namespace

const QString& DisplaySample() {
  static const QString sample = [] {
    const QString series = QStringLiteral(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
        "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩьЫЪЭЮЯЄЇ"
        "абвгдежзийклмнопрстуфхцчшщьыъэюяєї");
    return series + series;
  }();
  return sample;
}

QString DisplayWindow(int i) { return DisplaySample().mid(i, 20); }

QString DateTimeText(const QDateTime& when) {
  const QLocale locale = QLocale::system();
  const QString time = when.time().toString(QStringLiteral("hh:mm:ss"));
  if (locale.language() == QLocale::C)
    return when.date().toString(QStringLiteral("dd.MM.yyyy")) + QLatin1Char(' ') + time;
  return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') + time;
}

QString HeaderLine(int line) {
  switch (line) {
    case 0: return QStringLiteral("У К Р А Ї Н А");
    case 1: return QStringLiteral("м. К и ї в");
    case 2: return QStringLiteral("АТ \"ВАНТОР УКРАЇНА\"");
    case 3: return QStringLiteral("тел. (044) 123-45-67");
    default: return QString();
  }
}

bool ReadPasses(const QString& text, int* passes, QString* message) {
  int value = 0;
  if (StrToInt(text, &value) && value >= 1) {
    *passes = value;
    return true;
  }
  if (message) *message = QStringLiteral("Неверное количество циклов теста");
  return false;
}

bool ReadPause(const QString& text, int* pause, QString* message) {
  int value = 0;
  if (StrToInt(text, &value) && value >= 0) {
    *pause = value;
    return true;
  }
  if (message) *message = QStringLiteral("Неверная величина задержки \n   между командами");
  return false;
}

void SetTimerWaitForTests(int ms) { gTimerWaitMs = ms > 0 ? ms : kTimerWaitMs; }

RunObserver* SetRunObserver(RunObserver* observer) {
  RunObserver* previous = gObserver;
  gObserver = observer;
  return previous;
}

RunObserver* CurrentRunObserver() { return gObserver; }

// ---- the log -----------------------------------------------------------------

void Run::Log(const QString& line) { f_.AppendLog(line); }

void Run::Scroll() { f_.ScrollLogToEnd(); }

void Run::RepaintAndScroll() {
  f_.tab1.RichEdit1->viewport()->update();
  Scroll();
}

void Run::Progress(const QString& title) {
  f_.tab1.LabelProgress->setText(QStringLiteral("Проход %1 из %2: %3. Ошибок: %4")
                                     .arg(pass_)
                                     .arg(passes_)
                                     .arg(title)
                                     .arg(f_.RunErrorTotal));
  if (gObserver) gObserver->StepStarted(pass_, passes_, title);
}

void Run::Ended(RunEnd end) {
  if (gObserver) gObserver->RunEnded(end, f_.RunErrorTotal);
}

// ---- the pieces of every step -------------------------------------------------

bool Run::Command(const std::function<int()>& send) {
  f_.ErrorCounter = 0;
  f_.SendChecked(send);
  return f_.ErrorCounter < 1;
}

void Run::Pause() { ui::sleep(pause_); }

void Run::Fail() { f_.RunErrorTotal++; }

bool Run::StopCheck() {
  ui::processMessages();
  if (!f_.StopFlag) return true;
  Log(QStringLiteral("Тест остановлен"));
  f_.StopFlag = 0;
  f_.BusyMark = 0;
  f_.tab1.LabelProgress->setText(QStringLiteral("Тест остановлен"));
  Ended(RunEnd::Stopped);
  return false;
}

bool Run::Abort() {
  Fail();
  // The buttons stay as during the run until Stop is pressed.
  f_.BusyMark = 0;
  f_.tab1.LabelProgress->setText(QStringLiteral("Тест прерван. Ошибок: %1").arg(f_.RunErrorTotal));
  Ended(RunEnd::Aborted);
  return false;
}

void Run::Refuse() {
  // The run does not start, or ends before its first pass: the log keeps
  // every earlier line and the page is ready for the next Start.
  f_.BusyMark = 0;
  f_.tab1.Button3->setEnabled(true);
  f_.tab1.Button4->setEnabled(false);
}

bool Run::Step(const QString& title, const std::function<int()>& send, bool logAnswer,
               const QString& success, const QString& failure, After after) {
  Progress(title);
  f_.ErrorCounter = 0;
  Log(kStepSeparator);
  Log(title);
  const bool ok = Command(send);
  Scroll();
  if (ok) {
    if (logAnswer) Log(fromCp1251(f_.LastAnswer.AnswerText));
    Log(success);
  } else {
    Log(failure);
    Fail();
  }
  Pause();
  if (after == After::BlankLine) Log(kBlankLine);
  if (after != After::Nothing) RepaintAndScroll();
  return StopCheck();
}

// ---- start --------------------------------------------------------------------

void Run::Start() {
  f_.BusyMark = 1;
  if (!Command([] { return GetDiagnosticInfo(nullptr, PrinterResults, 0, 1); })) {
    ui::showMessage(QStringLiteral("Ошибка получения информации"));
    f_.BusyMark = 0;
    Ended(RunEnd::NoInformation);
    return;
  }
  const char* switches = f_.LastAnswer.FieldCount > 4 ? f_.LastAnswer.Fields[4] : nullptr;
  SetNoTranslation(SwitchesMeanNoTranslation(switches) ? 1 : 0);

  const uint32_t flags = f_.LastAnswer.ErrorFlags;
  const uint32_t needed = kFlagTaxRatesDefined | kFlagFmFormatted | kFlagNumbersProgrammed;
  const uint32_t open = kFlagFiscalOpen | kFlagNonFiscalOpen;
  if ((flags & needed) != needed || (flags & open) != 0) {
    // The dialog tells the user why; the run is refused (the log stays).
    if (Form4) Form4->ShowModal();
    Refuse();
    Ended(RunEnd::NotReady);
    return;
  }

  int passes = 0;
  int pause = 0;
  QString message;
  if (!ReadPasses(f_.tab1.ComboBox2->currentText(), &passes, &message) ||
      !ReadPause(f_.tab1.Edit1->text(), &pause, &message)) {
    ui::showMessage(message);
    f_.BusyMark = 0;
    Ended(RunEnd::BadInput);
    return;
  }
  passes_ = passes;
  pause_ = pause;

  f_.tab1.Button3->setEnabled(false);
  f_.tab1.Button4->setEnabled(true);
  f_.StopFlag = 0;

  if (!Command([] { return GetDiagnosticInfo(nullptr, PrinterResults, 0, 1); }))
    ui::showMessage(QStringLiteral("Ошибка получения информации"));

  for (int line = 0; line <= 7; ++line) {
    const QByteArray text = toCp1251(HeaderLine(line));
    if (!Command([&] { return SetHeaderFooter(nullptr, PrinterResults, 0, line, text.constData()); })) {
      Log(QStringLiteral("Ошибка программирования заголовка чека"));
      Refuse();
      f_.tab1.LabelProgress->setText(QStringLiteral("Тест не начат: заголовок чека не запрограммирован"));
      Ended(RunEnd::HeaderRefused);
      return;
    }
  }

  f_.RunErrorTotal = 0;
  Log(QStringLiteral("Тест Vantor KM4410R"));
  Log(QStringLiteral("Дата тестирования:"));
  Log(DateTimeText(ui::now()));
  Log(kStepSeparator);

  for (pass_ = 1; pass_ <= passes_; ++pass_)
    if (!Pass()) return;
  Summary();
}

// ---- a pass ---------------------------------------------------------------------

bool Run::Pass() {
  Log(kBlankLine);
  Log(kPassBanner);
  Log(kPassBanner);
  Log(QStringLiteral("Номер прохода теста - %1").arg(pass_));
  Log(kPassBanner);
  Progress(QStringLiteral("состояние регистратора"));
  Command([] { return GetStatus(nullptr, PrinterResults, 0, 0); });

  const QDateTime now = ui::now();
  time_ = now.time().toString(QStringLiteral("hh:mm")).toLatin1();
  date_ = now.date().toString(QStringLiteral("dd-MM-yy")).toLatin1();
  if (!StopCheck()) return false;

  if (!PhaseOne() || !StopCheck()) return false;
  // Read in every pass: ticking it during a run takes effect from here.
  if (!f_.tab1.CheckBox1->isChecked() && !PhaseTwo()) return false;
  return TimerCheck();
}

bool Run::PhaseOne() {
  if (!Step(QStringLiteral("Установка времени"),
            [this] { return SetDateTime(nullptr, PrinterResults, 0, date_.constData(), time_.constData()); },
            false, QStringLiteral("Установка времени - успешно"),
            QStringLiteral("Ошибка установки времени"), After::Scroll))
    return false;
  if (!Step(QStringLiteral("Печать диагностической информации"),
            [] { return PrintDiagnostics(nullptr, PrinterResults, 0); }, false,
            QStringLiteral("Печать диагностической информации - успешно"),
            QStringLiteral("Ошибка печати диагностической информации"), After::Scroll))
    return false;
  if (!Step(QStringLiteral("Получить диагностическую информацию"),
            [] { return GetDiagnosticInfo(nullptr, PrinterResults, 0, 1); }, true,
            QStringLiteral("Получить диагностическую информацию - успешно"),
            QStringLiteral("Ошибка получения диагностической информации"), After::Scroll))
    return false;
  if (!Step(QStringLiteral("Получить дату/время"),
            [] { return GetDateTime(nullptr, PrinterResults, 0); }, true,
            QStringLiteral("Получить дату/время - успешно"),
            QStringLiteral("Ошибка получения даты/времени"), After::BlankLine))
    return false;
  if (!Step(QStringLiteral("Получить налоговый номер"),
            [] { return GetTaxNumber(nullptr, PrinterResults, 0); }, true,
            QStringLiteral("Получить налоговый номер - успешно"),
            QStringLiteral("Ошибка получения налогового номера"), After::BlankLine))
    return false;
  if (!Step(QStringLiteral("X-отчет"),
            [this] {
              const QByteArray password = toCp1251(f_.tab8.Edit23->text());
              return PrintDailyReport(nullptr, PrinterResults, 0, password.constData(), '2');
            },
            true, QStringLiteral("X-отчет - успешно"), QStringLiteral("Ошибка X-отчета"),
            After::BlankLine))
    return false;
  return NonFiscalReceipt() && LowerDisplayRow() && UpperDisplayRow();
}

bool Run::NonFiscalReceipt() {
  const QString title = QStringLiteral("Нефискальный чек");
  Progress(title);
  f_.ErrorCounter = 0;
  Log(kStepSeparator);
  Log(title);
  const bool opened = Command([] { return OpenNonFiscalReceipt(nullptr, PrinterResults, 0); });
  Scroll();
  if (!opened) {
    Log(QStringLiteral("Ошибка открытия нефискального чека"));
    Fail();
    return StopCheck();
  }
  static const int kIndents[] = {0, 3, 6, 8, 11};
  for (int indent : kIndents) {
    const QByteArray text = toCp1251(QString(indent, QLatin1Char(' ')) + QStringLiteral("НеФиСкАлЬнЫй  Текст"));
    if (!Command([&] { return PrintNonFiscalText(nullptr, PrinterResults, 0, text.constData()); })) {
      Log(QStringLiteral("Ошибка печати нефискального текста"));
      Fail();
      break;
    }
  }
  if (!Command([] { return CloseNonFiscalReceipt(nullptr, PrinterResults, 0); })) {
    Log(QStringLiteral("Ошибка закрытия нефискального чека"));
    Log(QStringLiteral("Конец теста"));
    return Abort();
  }
  Log(fromCp1251(f_.LastAnswer.AnswerText));
  Log(QStringLiteral("Нефискальный чек - успешно"));
  Pause();
  Log(kBlankLine);
  RepaintAndScroll();
  return StopCheck();
}

bool Run::LowerDisplayRow() {
  const QString title = QStringLiteral("Тест индикаторов клиента - строка 2");
  Progress(title);
  f_.ErrorCounter = 0;
  Log(kStepSeparator);
  Log(title);
  for (int i = 0; i < kDisplayWindows; ++i) {
    const QByteArray window = toCp1251(DisplayWindow(i));
    // The silent handler: a timeout is sent again, up to 20 sends a window,
    // and every failed send counts.
    for (int send = 0; send < kDisplaySendsPerWindow; ++send) {
      if (!Command([&] { return DisplayLowerLine(nullptr, PrinterResultsy, 0, window.constData()); }))
        Fail();
      if (!(f_.LastAnswer.ErrorFlags & kFlagTimeout)) break;
    }
    if (!StopCheck()) return false;
  }
  return StopCheck();
}

bool Run::UpperDisplayRow() {
  const QString title = QStringLiteral("Тест индикаторов клиента - строка 1");
  Progress(title);
  f_.ErrorCounter = 0;
  Log(kStepSeparator);
  Log(title);
  int failures = 0;
  for (int i = 0; i < kDisplayWindows; ++i) {
    const QByteArray window = toCp1251(DisplayWindow(i));
    if (!Command([&] { return DisplayUpperLine(nullptr, PrinterResults, 0, window.constData()); })) {
      ++failures;
      Fail();
    }
    if (!StopCheck()) return false;
  }
  Log(failures > 0 ? QStringLiteral("Ошибка теста индикаторов клиента")
                   : QStringLiteral("Тест индикаторов клиента - успешно"));
  Pause();
  Log(kBlankLine);
  RepaintAndScroll();
  return true;
}

// ---- second phase -------------------------------------------------------------

bool Run::PhaseTwo() {
  const auto reportsPassword = [this] { return toCp1251(f_.tab8.Edit23->text()); };
  const auto zReport = [reportsPassword] {
    const QByteArray password = reportsPassword();
    return PrintDailyReport(nullptr, PrinterResults, 0, password.constData(), '0');
  };
  if (!Step(QStringLiteral("Z-отчет"), zReport, true, QStringLiteral("Z-отчет - успешно"),
            QStringLiteral("Ошибка Z-отчета"), After::Nothing))
    return false;
  if (!Step(QStringLiteral("Служебный внос"),
            [] { return ServiceCashInOut(nullptr, PrinterResults, 0, 10); }, true,
            QStringLiteral("Служебный внос - успешно"), QStringLiteral("Ошибка служебного вноса"),
            After::Nothing))
    return false;
  if (!Step(QStringLiteral("Служебный вынос"),
            [] { return ServiceCashInOut(nullptr, PrinterResults, 0, -10); }, true,
            QStringLiteral("Служебный вынос - успешно"), QStringLiteral("Ошибка служебного выноса"),
            After::BlankLine))
    return false;
  if (!Step(QStringLiteral("Программирование артикулов"),
            [this] {
              const QByteArray password = toCp1251(f_.tab8.Edit22->text());
              return ProgramArticle(nullptr, PrinterResults, 0, kTaxGroupA, kArticle, kArticleGroup,
                                    kArticlePrice, password.constData(), kArticleName());
            },
            false, QStringLiteral("Программирование артикулов - успешно"),
            QStringLiteral("Ошибка программирования артикулов"), After::BlankLine))
    return false;
  if (!FiscalReceipt() || !ReturnReceipt()) return false;
  if (!Step(QStringLiteral("Отчет проданных товаров"),
            [reportsPassword] {
              const QByteArray password = reportsPassword();
              return PrintArticleReport(nullptr, PrinterResults, 0, password.constData(), 'S');
            },
            true, QStringLiteral("Отчет проданных товаров - успешно"),
            QStringLiteral("Ошибка отчета проданных товаров"), After::BlankLine))
    return false;
  if (!Step(QStringLiteral("Z-отчет"), zReport, true, QStringLiteral("Z-отчет - успешно"),
            QStringLiteral("Ошибка Z-отчета"), After::BlankLine))
    return false;
  return StopCheck();
}

bool Run::Receipt(const ReceiptSteps& r) {
  Progress(r.title);
  f_.ErrorCounter = 0;
  Log(kStepSeparator);
  Log(r.title);
  const uint32_t op = static_cast<uint32_t>(ItemIndex(f_.tab8.ComboBox8) + 1);
  const QByteArray password = toCp1251(f_.tab8.Edit21->text());
  const bool opened = Command([&] { return r.open(nullptr, PrinterResults, 0, op, password.constData(), kTill); });
  Scroll();
  if (!opened) {
    Log(r.openFailure);
    Fail();
    return StopCheck();
  }
  if (!Command([] { return PrintFiscalText(nullptr, PrinterResults, 0, FiscalText().constData()); })) {
    Log(QStringLiteral("Ошибка печати фискального текста"));
    Fail();
  } else if (!Command([&] {
               return RegisterSale(nullptr, PrinterResults, 0, 1, kArticle, r.quantity, r.percent, r.amount);
             })) {
    Log(r.saleFailure);
    Fail();
  }
  const bool paid =
      (!r.subtotal || Command([] { return Subtotal(nullptr, PrinterResults, 0, 1, 1, 0, -1); })) &&
      Command([&] { return ReceiptTotal(nullptr, PrinterResults, 0, "", 'P', r.payment); });
  if (!paid) {
    Log(QStringLiteral("Ошибка оплаты"));
    Log(QStringLiteral("Конец теста"));
    return Abort();
  }
  if (!Command([] { return CloseFiscalReceipt(nullptr, PrinterResults, 0); })) {
    Log(r.closeFailure);
    Log(QStringLiteral("Конец теста"));
    return Abort();
  }
  Log(r.success);
  Pause();
  Log(kBlankLine);
  RepaintAndScroll();
  return StopCheck();
}

bool Run::FiscalReceipt() {
  // Four articles at 5 % off, 1.00 off the subtotal, paid with 10.00.
  return Receipt({QStringLiteral("Фискальный чек"), OpenFiscalReceipt, 4, -5, 0, true, 10,
                  QStringLiteral("Ошибка открытия фискального чека"),
                  QStringLiteral("Ошибка продажи товара"),
                  QStringLiteral("Ошибка закрытия фискального чека"),
                  QStringLiteral("Фискальный чек - успешно")});
}

bool Run::ReturnReceipt() {
  // Two articles returned, 1.00 off the line, paid back with 5.00; no subtotal.
  return Receipt({QStringLiteral("Чек возврата"), OpenReturnReceipt, 2, 0, -1, false, 5,
                  QStringLiteral("Ошибка открытия чека возврата"),
                  QStringLiteral("Ошибка возврата товара"),
                  QStringLiteral("Ошибка закрытия чека возврата"),
                  QStringLiteral("Чек возврата товара - успешно")});
}

// ---- every pass ends here -------------------------------------------------------

bool Run::TimerCheck() {
  const QString title = QStringLiteral("Тест таймера");
  Progress(title);
  f_.ErrorCounter = 0;
  Log(kStepSeparator);
  Log(title);
  const auto reading = [this] {
    const bool ok = Command([] { return GetDateTime(nullptr, PrinterResults, 0); });
    Scroll();
    if (ok) {
      Log(fromCp1251(f_.LastAnswer.AnswerText));
    } else {
      Log(QStringLiteral("Ошибка получения даты/времени"));
      Fail();
    }
  };
  reading();
  ui::sleep(gTimerWaitMs);
  if (!StopCheck()) return false;
  reading();
  Pause();
  Log(kBlankLine);
  RepaintAndScroll();
  return true;
}

void Run::Summary() {
  Log(QStringLiteral("Конец теста Vantor KM4410R"));
  Log(QStringLiteral("Дата тестирования:"));
  Log(DateTimeText(ui::now()));
  Log(QStringLiteral("Общее количество ошибок: %1").arg(f_.RunErrorTotal));
  f_.tab1.LabelProgress->setText(
      QStringLiteral("Тест завершён: проходов %1, ошибок %2").arg(passes_).arg(f_.RunErrorTotal));
  Ended(RunEnd::Completed);
  f_.RunErrorTotal = 0;
  Log(kStepSeparator);
  f_.tab1.Button3->setEnabled(true);
  f_.tab1.Button4->setEnabled(false);
  f_.BusyMark = 0;
}

}  // namespace regtest
