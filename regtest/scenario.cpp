#include "regtest/scenario.h"
#include "regtest/testing.h"

#include <QLocale>

#include "base/cp1251text.h"
#include "base/numbers.h"
#include "regtest/connection.h"

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

namespace {

// A whole number of at least `least`, or `refusal` as the message.
bool ReadWholeNumber(const QString& text, int least, int* value, QString* message, const QString& refusal) {
  int read = 0;
  if (StrToInt(text, &read) && read >= least) {
    *value = read;
    return true;
  }
  if (message) *message = refusal;
  return false;
}

}  // namespace

bool ReadPasses(const QString& text, int* passes, QString* message) {
  return ReadWholeNumber(text, 1, passes, message, QStringLiteral("Неверное количество циклов теста"));
}

bool ReadPause(const QString& text, int* pause, QString* message) {
  return ReadWholeNumber(text, 0, pause, message,
                         QStringLiteral("Неверная величина задержки \n   между командами"));
}

QStringList ReadinessProblems(uint32_t flags) {
  QStringList lines;
  if (!(flags & kFlagTaxRatesDefined)) lines << QStringLiteral("Заводской номер не задан");
  if (!(flags & kFlagFmFormatted)) lines << QStringLiteral("Фискальная память не форматирована");
  if (!(flags & kFlagNumbersProgrammed)) lines << QStringLiteral("Фискальный номер не задан");
  if ((flags & kFlagFiscalOpen) && !(flags & kFlagReturnReceipt))
    lines << QStringLiteral("Открыт фискальный чек");
  if ((flags & kFlagFiscalOpen) && (flags & kFlagReturnReceipt))
    lines << QStringLiteral("Открыт чек возврата");
  if (flags & kFlagNonFiscalOpen) lines << QStringLiteral("Открыт нефискальный чек");
  return lines;
}

QString InfoErrorText() { return QStringLiteral("Ошибка получения информации"); }

QString InvalidStateTitle() { return QStringLiteral("Некорректное состояние Vantor KM4410R"); }

void SetTimerWaitForTests(int ms) { gTimerWaitMs = ms > 0 ? ms : kTimerWaitMs; }

// ---- the pieces of every step -------------------------------------------------

void Scenario::Begin(StepKind kind, const QString& title) {
  EndStep();
  step_ = StepInfo{kind, title, pass_, passes_, errors_};
  stepOpen_ = true;
  out_.StepBegun(step_);
}

void Scenario::EndStep() {
  if (!stepOpen_) return;
  stepOpen_ = false;
  out_.StepEnded(step_, errors_);
}

RunEnd Scenario::Ended(RunEnd end) {
  CheckLinkKept();
  EndStep();
  end_ = end;
  out_.Ended(end, errors_, passes_);
  return end;
}

bool Scenario::Command(const std::function<int(ResultHandler)>& send, bool silent) {
  const bool ok = out_.Command(send, silent);
  WatchLink();
  return ok;
}

// A line in the log and an event for each change the last command saw: the
// port opened again (before the command), the link found gone (by it).
void Scenario::WatchLink() {
  const LinkStatus now = GetLinkStatus();
  const LinkStatus before = link_;
  link_ = now;
  const auto event = [&](LinkEvent::Kind kind) {
    LinkEvent e;
    e.kind = kind;
    e.at = out_.Now();
    e.pass = pass_;
    e.step = step_.kind;
    e.stepTitle = step_.title;
    return e;
  };
  const auto clock = [this] { return out_.Now().time().toString(QStringLiteral("hh:mm:ss")); };
  if (now.returns > before.returns) {
    LinkEvent e = event(LinkEvent::Returned);
    e.failedCommands = drop_.failedCommands;
    out_.Log(QStringLiteral("Связь с регистратором восстановлена в %1 (команд без связи: %2)")
                 .arg(clock())
                 .arg(e.failedCommands));
    out_.Link(e);
    drop_ = LinkEvent{};
  }
  if (now.drops > before.drops) {
    drop_ = event(LinkEvent::Dropped);
    drop_.reason = QString::fromUtf8(PortErrorText(now.error, kPortTextRussian));
    drop_.failedCommands = 1;
    out_.Log(QStringLiteral("Связь с регистратором потеряна в %1: %2").arg(clock(), drop_.reason));
    out_.Link(drop_);
  } else if (!now.up && drop_.failedCommands > 0) {
    drop_.failedCommands++;
  }
}

// At the end of a pass and of the run: a link still gone makes the run's
// verdict "link lost" (told once, with where it went).
void Scenario::CheckLinkKept() {
  if (lostTold_ || pass_ < 1 || drop_.failedCommands == 0 || GetLinkStatus().up) return;
  lostTold_ = true;
  LinkEvent e = drop_;
  e.kind = LinkEvent::Lost;
  e.at = out_.Now();
  e.reason = QString::fromUtf8(PortErrorText(GetLinkStatus().error, kPortTextRussian));
  out_.Log(QStringLiteral("Связь с регистратором не восстановлена до конца прохода %1").arg(pass_));
  out_.Link(e);
}

void Scenario::Pause() { out_.Sleep(pause_); }

void Scenario::Fail() { ++errors_; }

bool Scenario::StopCheck() {
  if (!out_.StopRequested()) return true;
  out_.Log(QStringLiteral("Тест остановлен"));
  Ended(RunEnd::Stopped);
  return false;
}

bool Scenario::Abort() {
  Fail();
  Ended(RunEnd::Aborted);
  return false;
}

bool Scenario::Step(StepKind kind, const QString& title, const std::function<int(ResultHandler)>& send,
                    bool logAnswer, const QString& success, const QString& failure, After after) {
  Begin(kind, title);
  out_.Log(kStepSeparator);
  out_.Log(title);
  const bool ok = Command(send);
  out_.Scroll();
  if (ok) {
    if (logAnswer) out_.Log(fromCp1251(out_.LastAnswer().AnswerText));
    out_.Log(success);
  } else {
    out_.Log(failure);
    Fail();
  }
  Pause();
  if (after == After::BlankLine) out_.Log(kBlankLine);
  if (after != After::Nothing) out_.Repaint();
  return StopCheck();
}

// ---- start --------------------------------------------------------------------

RunEnd Scenario::Run() {
  const auto diagnostic = [](ResultHandler h) { return GetDiagnosticInfo(nullptr, h, 0, 1); };
  link_ = GetLinkStatus();
  out_.Busy(true);
  if (!Command(diagnostic)) {
    out_.Message(InfoErrorText());
    return Ended(RunEnd::NoInformation);
  }
  ApplySwitchSettings(out_.LastAnswer());

  if (!ReadinessProblems(out_.LastAnswer().ErrorFlags).isEmpty()) {
    // The dialog tells the user why; the run is refused (the log stays).
    out_.ShowInvalidState();
    return Ended(RunEnd::NotReady);
  }

  const Inputs inputs = in_.Read();
  QString message;
  if (!ReadPasses(inputs.passesText, &passes_, &message) ||
      !ReadPause(inputs.pauseText, &pause_, &message)) {
    passes_ = pause_ = 0;
    out_.Message(message);
    return Ended(RunEnd::BadInput);
  }
  out_.Running();

  if (!Command(diagnostic)) out_.Message(InfoErrorText());

  for (int line = 0; line <= 7; ++line) {
    const QByteArray text = toCp1251(HeaderLine(line));
    if (!Command([&](ResultHandler h) { return SetHeaderFooter(nullptr, h, 0, line, text.constData()); })) {
      out_.Log(QStringLiteral("Ошибка программирования заголовка чека"));
      return Ended(RunEnd::HeaderRefused);
    }
  }

  errors_ = 0;
  out_.Log(QStringLiteral("Тест Vantor KM4410R"));
  out_.Log(QStringLiteral("Дата тестирования:"));
  out_.Log(DateTimeText(out_.Now()));
  out_.Log(kStepSeparator);

  for (pass_ = 1; pass_ <= passes_; ++pass_)
    if (!Pass()) return end_;
  Summary();
  return end_;
}

// ---- a pass ---------------------------------------------------------------------

bool Scenario::Pass() {
  out_.Log(kBlankLine);
  out_.Log(kPassBanner);
  out_.Log(kPassBanner);
  out_.Log(QStringLiteral("Номер прохода теста - %1").arg(pass_));
  out_.Log(kPassBanner);
  Begin(StepKind::Status, QStringLiteral("состояние регистратора"));
  Command([](ResultHandler h) { return GetStatus(nullptr, h, 0, 0); });

  const QDateTime now = out_.Now();
  time_ = now.time().toString(QStringLiteral("hh:mm")).toLatin1();
  date_ = now.date().toString(QStringLiteral("dd-MM-yy")).toLatin1();
  if (!StopCheck()) return false;

  if (!PhaseOne() || !StopCheck()) return false;
  // Read in every pass: ticking the box during a run takes effect from here.
  if (in_.Read().secondPhase && !PhaseTwo()) return false;
  if (!TimerCheck()) return false;
  CheckLinkKept();
  return true;
}

bool Scenario::PhaseOne() {
  if (!Step(StepKind::SetTime, QStringLiteral("Установка времени"),
            [this](ResultHandler h) { return SetDateTime(nullptr, h, 0, date_.constData(), time_.constData()); },
            false, QStringLiteral("Установка времени - успешно"),
            QStringLiteral("Ошибка установки времени"), After::Scroll))
    return false;
  if (!Step(StepKind::PrintDiagnostics, QStringLiteral("Печать диагностической информации"),
            [](ResultHandler h) { return PrintDiagnostics(nullptr, h, 0); }, false,
            QStringLiteral("Печать диагностической информации - успешно"),
            QStringLiteral("Ошибка печати диагностической информации"), After::Scroll))
    return false;
  if (!Step(StepKind::GetDiagnostics, QStringLiteral("Получить диагностическую информацию"),
            [](ResultHandler h) { return GetDiagnosticInfo(nullptr, h, 0, 1); }, true,
            QStringLiteral("Получить диагностическую информацию - успешно"),
            QStringLiteral("Ошибка получения диагностической информации"), After::Scroll))
    return false;
  if (!Step(StepKind::GetDateTime, QStringLiteral("Получить дату/время"),
            [](ResultHandler h) { return GetDateTime(nullptr, h, 0); }, true,
            QStringLiteral("Получить дату/время - успешно"),
            QStringLiteral("Ошибка получения даты/времени"), After::BlankLine))
    return false;
  if (!Step(StepKind::GetTaxNumber, QStringLiteral("Получить налоговый номер"),
            [](ResultHandler h) { return GetTaxNumber(nullptr, h, 0); }, true,
            QStringLiteral("Получить налоговый номер - успешно"),
            QStringLiteral("Ошибка получения налогового номера"), After::BlankLine))
    return false;
  if (!Step(StepKind::XReport, QStringLiteral("X-отчет"),
            [this](ResultHandler h) {
              const QByteArray password = toCp1251(in_.Read().reportsPassword);
              return PrintDailyReport(nullptr, h, 0, password.constData(), '2');
            },
            true, QStringLiteral("X-отчет - успешно"), QStringLiteral("Ошибка X-отчета"),
            After::BlankLine))
    return false;
  return NonFiscalReceipt() && LowerDisplayRow() && UpperDisplayRow();
}

bool Scenario::NonFiscalReceipt() {
  const QString title = QStringLiteral("Нефискальный чек");
  Begin(StepKind::NonFiscalReceipt, title);
  out_.Log(kStepSeparator);
  out_.Log(title);
  const bool opened = Command([](ResultHandler h) { return OpenNonFiscalReceipt(nullptr, h, 0); });
  out_.Scroll();
  if (!opened) {
    out_.Log(QStringLiteral("Ошибка открытия нефискального чека"));
    Fail();
    return StopCheck();
  }
  static const int kIndents[] = {0, 3, 6, 8, 11};
  for (int indent : kIndents) {
    const QByteArray text = toCp1251(QString(indent, QLatin1Char(' ')) + QStringLiteral("НеФиСкАлЬнЫй  Текст"));
    if (!Command([&](ResultHandler h) { return PrintNonFiscalText(nullptr, h, 0, text.constData()); })) {
      out_.Log(QStringLiteral("Ошибка печати нефискального текста"));
      Fail();
      break;
    }
  }
  if (!Command([](ResultHandler h) { return CloseNonFiscalReceipt(nullptr, h, 0); })) {
    out_.Log(QStringLiteral("Ошибка закрытия нефискального чека"));
    out_.Log(QStringLiteral("Конец теста"));
    return Abort();
  }
  out_.Log(fromCp1251(out_.LastAnswer().AnswerText));
  out_.Log(QStringLiteral("Нефискальный чек - успешно"));
  Pause();
  out_.Log(kBlankLine);
  out_.Repaint();
  return StopCheck();
}

bool Scenario::LowerDisplayRow() {
  const QString title = QStringLiteral("Тест индикаторов клиента - строка 2");
  Begin(StepKind::DisplayLowerRow, title);
  out_.Log(kStepSeparator);
  out_.Log(title);
  for (int i = 0; i < kDisplayWindows; ++i) {
    const QByteArray window = toCp1251(DisplayWindow(i));
    // The silent handler: a timeout is sent again, up to 20 sends a window,
    // and every failed send counts.
    for (int send = 0; send < kDisplaySendsPerWindow; ++send) {
      if (!Command([&](ResultHandler h) { return DisplayLowerLine(nullptr, h, 0, window.constData()); }, true))
        Fail();
      if (!(out_.LastAnswer().ErrorFlags & kFlagTimeout)) break;
    }
    if (!StopCheck()) return false;
  }
  return StopCheck();
}

bool Scenario::UpperDisplayRow() {
  const QString title = QStringLiteral("Тест индикаторов клиента - строка 1");
  Begin(StepKind::DisplayUpperRow, title);
  out_.Log(kStepSeparator);
  out_.Log(title);
  int failures = 0;
  for (int i = 0; i < kDisplayWindows; ++i) {
    const QByteArray window = toCp1251(DisplayWindow(i));
    if (!Command([&](ResultHandler h) { return DisplayUpperLine(nullptr, h, 0, window.constData()); })) {
      ++failures;
      Fail();
    }
    if (!StopCheck()) return false;
  }
  out_.Log(failures > 0 ? QStringLiteral("Ошибка теста индикаторов клиента")
                        : QStringLiteral("Тест индикаторов клиента - успешно"));
  Pause();
  out_.Log(kBlankLine);
  out_.Repaint();
  return true;
}

// ---- second phase -------------------------------------------------------------

bool Scenario::PhaseTwo() {
  const auto zReport = [this](ResultHandler h) {
    const QByteArray password = toCp1251(in_.Read().reportsPassword);
    return PrintDailyReport(nullptr, h, 0, password.constData(), '0');
  };
  if (!Step(StepKind::ZReport, QStringLiteral("Z-отчет"), zReport, true, QStringLiteral("Z-отчет - успешно"),
            QStringLiteral("Ошибка Z-отчета"), After::Nothing))
    return false;
  if (!Step(StepKind::ServiceCashIn, QStringLiteral("Служебный внос"),
            [](ResultHandler h) { return ServiceCashInOut(nullptr, h, 0, 10); }, true,
            QStringLiteral("Служебный внос - успешно"), QStringLiteral("Ошибка служебного вноса"),
            After::Nothing))
    return false;
  if (!Step(StepKind::ServiceCashOut, QStringLiteral("Служебный вынос"),
            [](ResultHandler h) { return ServiceCashInOut(nullptr, h, 0, -10); }, true,
            QStringLiteral("Служебный вынос - успешно"), QStringLiteral("Ошибка служебного выноса"),
            After::BlankLine))
    return false;
  if (!Step(StepKind::ProgramArticle, QStringLiteral("Программирование артикулов"),
            [this](ResultHandler h) {
              const QByteArray password = toCp1251(in_.Read().programmingPassword);
              return ProgramArticle(nullptr, h, 0, kTaxGroupA, kArticle, kArticleGroup, kArticlePrice,
                                    password.constData(), kArticleName());
            },
            false, QStringLiteral("Программирование артикулов - успешно"),
            QStringLiteral("Ошибка программирования артикулов"), After::BlankLine))
    return false;
  if (!FiscalReceipt() || !ReturnReceipt()) return false;
  if (!Step(StepKind::ArticleReport, QStringLiteral("Отчет проданных товаров"),
            [this](ResultHandler h) {
              const QByteArray password = toCp1251(in_.Read().reportsPassword);
              return PrintArticleReport(nullptr, h, 0, password.constData(), 'S');
            },
            true, QStringLiteral("Отчет проданных товаров - успешно"),
            QStringLiteral("Ошибка отчета проданных товаров"), After::BlankLine))
    return false;
  if (!Step(StepKind::ZReportClosing, QStringLiteral("Z-отчет"), zReport, true,
            QStringLiteral("Z-отчет - успешно"), QStringLiteral("Ошибка Z-отчета"), After::BlankLine))
    return false;
  return StopCheck();
}

// The fiscal and the return receipt: the same steps with their own values
// and texts.
struct Scenario::ReceiptSteps {
  StepKind kind;
  QString title;
  int (*open)(void* window, void (*handler)(RetData&), int param, uint32_t op, const char* password,
              uint32_t till);
  double quantity, percent, amount;  // of the sale
  bool subtotal;                     // with a subtotal before the payment
  double payment;
  QString openFailure, saleFailure, closeFailure, success;
};

bool Scenario::Receipt(const ReceiptSteps& r) {
  Begin(r.kind, r.title);
  out_.Log(kStepSeparator);
  out_.Log(r.title);
  const Inputs inputs = in_.Read();
  const uint32_t op = static_cast<uint32_t>(inputs.cashier);
  const QByteArray password = toCp1251(inputs.cashierPassword);
  const bool opened =
      Command([&](ResultHandler h) { return r.open(nullptr, h, 0, op, password.constData(), kTill); });
  out_.Scroll();
  if (!opened) {
    out_.Log(r.openFailure);
    Fail();
    return StopCheck();
  }
  if (!Command([](ResultHandler h) { return PrintFiscalText(nullptr, h, 0, FiscalText().constData()); })) {
    out_.Log(QStringLiteral("Ошибка печати фискального текста"));
    Fail();
  } else if (!Command([&](ResultHandler h) {
               return RegisterSale(nullptr, h, 0, 1, kArticle, r.quantity, r.percent, r.amount);
             })) {
    out_.Log(r.saleFailure);
    Fail();
  }
  const bool paid =
      (!r.subtotal || Command([](ResultHandler h) { return Subtotal(nullptr, h, 0, 1, 1, 0, -1); })) &&
      Command([&](ResultHandler h) { return ReceiptTotal(nullptr, h, 0, "", 'P', r.payment); });
  if (!paid) {
    out_.Log(QStringLiteral("Ошибка оплаты"));
    out_.Log(QStringLiteral("Конец теста"));
    return Abort();
  }
  if (!Command([](ResultHandler h) { return CloseFiscalReceipt(nullptr, h, 0); })) {
    out_.Log(r.closeFailure);
    out_.Log(QStringLiteral("Конец теста"));
    return Abort();
  }
  out_.Log(r.success);
  Pause();
  out_.Log(kBlankLine);
  out_.Repaint();
  return StopCheck();
}

bool Scenario::FiscalReceipt() {
  // Four articles at 5 % off, 1.00 off the subtotal, paid with 10.00.
  return Receipt({StepKind::FiscalReceipt, QStringLiteral("Фискальный чек"), OpenFiscalReceipt, 4, -5, 0,
                  true, 10, QStringLiteral("Ошибка открытия фискального чека"),
                  QStringLiteral("Ошибка продажи товара"), QStringLiteral("Ошибка закрытия фискального чека"),
                  QStringLiteral("Фискальный чек - успешно")});
}

bool Scenario::ReturnReceipt() {
  // Two articles returned, 1.00 off the line, paid back with 5.00; no subtotal.
  return Receipt({StepKind::ReturnReceipt, QStringLiteral("Чек возврата"), OpenReturnReceipt, 2, 0, -1,
                  false, 5, QStringLiteral("Ошибка открытия чека возврата"),
                  QStringLiteral("Ошибка возврата товара"), QStringLiteral("Ошибка закрытия чека возврата"),
                  QStringLiteral("Чек возврата товара - успешно")});
}

// ---- every pass ends here -------------------------------------------------------

bool Scenario::TimerCheck() {
  const QString title = QStringLiteral("Тест таймера");
  Begin(StepKind::Timer, title);
  out_.Log(kStepSeparator);
  out_.Log(title);
  const auto reading = [this] {
    const bool ok = Command([](ResultHandler h) { return GetDateTime(nullptr, h, 0); });
    out_.Scroll();
    if (ok) {
      out_.Log(fromCp1251(out_.LastAnswer().AnswerText));
    } else {
      out_.Log(QStringLiteral("Ошибка получения даты/времени"));
      Fail();
    }
  };
  reading();
  out_.Sleep(gTimerWaitMs);
  if (!StopCheck()) return false;
  reading();
  Pause();
  out_.Log(kBlankLine);
  out_.Repaint();
  return true;
}

void Scenario::Summary() {
  out_.Log(QStringLiteral("Конец теста Vantor KM4410R"));
  out_.Log(QStringLiteral("Дата тестирования:"));
  out_.Log(DateTimeText(out_.Now()));
  out_.Log(QStringLiteral("Общее количество ошибок: %1").arg(errors_));
  Ended(RunEnd::Completed);
  errors_ = 0;
  out_.Log(kStepSeparator);
}

}  // namespace regtest
