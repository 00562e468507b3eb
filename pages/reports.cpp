// The page "Дополнительные функции" (TabSheet5): print test, zero receipt,
// reports, cancellation of an open receipt, periodic reports. The operators'
// passwords and the cashier come from the test passwords of the passwords page.
#include <QApplication>
#include <QButtonGroup>
#include <QDateEdit>
#include <QEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <functional>
#include <utility>

#include "app/Mainform.h"
#include "app/controls.h"
#include "base/cp1251text.h"

namespace {

constexpr int kLineLength = 35;      // characters of a print test line


// Runs `exit` when the keyboard focus leaves the radio group for a control
// outside it.
class GroupExitWatcher : public QObject {
 public:
  GroupExitWatcher(QWidget* group, std::function<void()> exit)
      : QObject(group), group_(group), exit_(std::move(exit)) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusOut) {
      QWidget* next = QApplication::focusWidget();
      // A message box or another window taking the focus is no leaving of the
      // group; only a control of the same window outside the group is.
      if (next && next != group_ && !group_->isAncestorOf(next) &&
          next->window() == group_->window())
        exit_();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QWidget* group_;
  std::function<void()> exit_;
};

}  // namespace

void TForm1::SetUpReportsPage() {
  Ui::TabSheet5& t = tab5;
  // The radio groups' item indexes are the ids of their buttons.
  t.RadioGroup3Items->setId(t.RadioGroup3Item0, 0);
  t.RadioGroup3Items->setId(t.RadioGroup3Item1, 1);
  t.RadioGroup4Items->setId(t.RadioGroup4Item0, 0);
  t.RadioGroup4Items->setId(t.RadioGroup4Item1, 1);

  // Only the range controls of the chosen report type are shown, none
  // before a type is chosen.
  for (QWidget* w : std::initializer_list<QWidget*>{t.Label38, t.Label39, t.DateEdit1, t.DateEdit2,
                                                    t.Label40, t.Label41, t.Edit25, t.Edit26}) {
    w->setVisible(false);
    w->setEnabled(false);
  }
  t.CheckBox6->setVisible(false);

  // The dates are chosen in the calendar, not typed.
  const QDate today = ui::now().date();
  for (QDateEdit* d : {t.DateEdit1, t.DateEdit2}) {
    d->setDate(today);
    if (QLineEdit* text = d->findChild<QLineEdit*>()) text->setReadOnly(true);
  }

  ConnectClicks({{t.Button12, &TForm1::Button12Click},
                 {t.Button13, &TForm1::Button13Click},
                 {t.Button14, &TForm1::Button14Click},
                 {t.Button15, &TForm1::Button15Click},
                 {t.Button24, &TForm1::Button24Click}});
  connect(t.ComboBox10, &QComboBox::currentIndexChanged, this, &TForm1::ComboBox10Change);
  connect(t.RadioGroup3Items, &QButtonGroup::idClicked, this, [this](int) { RadioGroup3Click(); });
  auto* watcher = new GroupExitWatcher(t.RadioGroup3, [this] { RadioGroup3Exit(); });
  for (QAbstractButton* b : t.RadioGroup3Items->buttons()) b->installEventFilter(watcher);
}

void TForm1::Button12Click() {
  const QString character = tab5.Edit3->text().left(1);
  if (character.isEmpty()) {
    ui::showMessage(QStringLiteral("Введите символ для печати теста"));
    return;
  }
  const QByteArray line = toCp1251(character.repeated(kLineLength));
  int printErrors = 0;
  ErrorCounter = 0;
  BusyScope busy(*this, kBusyReports);
  int lines = 0;
  if (!StrToInt(tab5.Edit7->text(), &lines)) {
    ui::showMessage(QStringLiteral("Некорректное количество циклов"));
    return;
  }
  ErrorCounter = 0;
  SendChecked([] { return OpenNonFiscalReceipt(nullptr, PrinterResultsx, 0); });
  if (ErrorCounter > 0) {
    ui::showMessage(QStringLiteral("Ошибка открытия нефискального чека"));
    return;
  }
  for (int i = 1; i <= lines; ++i) {
    ErrorCounter = 0;
    SendChecked([&line] { return PrintNonFiscalText(nullptr, PrinterResultsx, 0, line.constData()); });
    if (ErrorCounter > 0) {
      ui::showMessage(QStringLiteral("Ошибка печати нефискального текста"));
      ++printErrors;
      break;
    }
  }
  ErrorCounter = 0;
  SendChecked([] { return CloseNonFiscalReceipt(nullptr, PrinterResultsx, 0); });
  ui::showMessage(ErrorCounter > 0 || printErrors > 0
                      ? QStringLiteral("Ошибка закрытия нефискального чека")
                      : QStringLiteral("Нефискальный чек - успешно"));
}

void TForm1::Button13Click() {
  // A complete fiscal sale of amount zero; the first failing step ends it
  // (the cancellation closes what it leaves open).
  const uint32_t cashier = static_cast<uint32_t>(shared().cashier);
  const QByteArray password = toCp1251(shared().cashierPassword);
  ErrorCounter = 0;
  SendChecked([&] { return OpenFiscalReceipt(nullptr, PrinterResults, 0, cashier, password.constData(), 1); });
  if (ErrorCounter > 0) {
    ui::showMessage(QStringLiteral("Ошибка открытия фискального чека"));
    return;
  }
  ErrorCounter = 0;
  SendChecked([] { return Subtotal(nullptr, PrinterResults, 0, 1, 1, 0, 0); });
  if (ErrorCounter > 0) {
    ui::showMessage(QStringLiteral("Ошибка подсуммы"));
    return;
  }
  ErrorCounter = 0;
  SendChecked([] { return ReceiptTotal(nullptr, PrinterResults, 0, "", 'P', 0.0); });
  if (ErrorCounter > 0) {
    ui::showMessage(QStringLiteral("Ошибка оплаты"));
    return;
  }
  ErrorCounter = 0;
  SendChecked([] { return CloseFiscalReceipt(nullptr, PrinterResults, 0); });
  ui::showMessage(ErrorCounter > 0 ? QStringLiteral("Ошибка закрытия фискального чека")
                                   : QStringLiteral("Фискальный чек - успешно"));
}

void TForm1::Button14Click() {
  static constexpr char kArticleReports[] = {'S', 'P', 'G'};
  const int report = tab5.ComboBox10->currentIndex();
  if (report < 0 || report > 4) return;  // no report chosen
  const QByteArray reportsPassword = toCp1251(shared().reportsPassword);
  {
    ErrorCounter = 0;
    BusyScope busy(*this, kBusyReports);
    ui::processMessages();
    SendAndTell(
        [&] {
          if (report <= 2)
            return PrintArticleReport(nullptr, PrinterResultsx, 0, reportsPassword.constData(),
                                      kArticleReports[report]);
          const char option = report == 3 ? '2' : '0';  // X or Z
          return PrintDailyReport(nullptr, PrinterResultsx, 0, reportsPassword.constData(), option);
        },
        QStringLiteral("Отчет - успешно"), QStringLiteral("Ошибка отчета"));
  }
  if (report <= 2) return;
  // After a Z report the articles can go too; the answer speaks for itself
  // through the result handler.
  if (report == 4 && tab5.CheckBox6->isChecked()) {
    const QByteArray programmingPassword = toCp1251(shared().programmingPassword);
    ErrorCounter = 0;
    SendChecked([&] {
      return DeleteArticles(nullptr, PrinterResultsx, 0, 0, programmingPassword.constData());
    });
  }
  tab5.CheckBox6->setChecked(false);
}

void TForm1::ComboBox10Change() { tab5.CheckBox6->setVisible(tab5.ComboBox10->currentIndex() == 4); }

void TForm1::Button15Click() {
  ErrorCounter = 0;
  BusyScope busy(*this, kBusyReports);
  int rc = 0;
  SendChecked([&rc] {
    rc = GetStatus(nullptr, PrinterResultsx, 0, 1);
    return rc;
  });
  ErrorCounter = 0;  // the state flags count, not an error of the request
  // Without a status (not sent, no answer, a broken frame) the register's
  // receipt state is unknown: nothing is closed and nothing claimed.
  constexpr uint32_t kNoStatus = kFlagChecksum | kFlagNak | kFlagTimeout;
  if (rc != 0 || (LastAnswer.ErrorFlags & kNoStatus) != 0) {
    ui::showMessage(QStringLiteral("Ошибка анулирования"));
    return;
  }
  const uint32_t state = LastAnswer.ErrorFlags;
  ui::processMessages();
  if (state & kFlagNonFiscalOpen) {
    SendChecked([] { return CloseNonFiscalReceipt(nullptr, PrinterResultsx, 0); });
  } else if (state & kFlagFiscalOpen) {
    SendChecked([] { return CancelReceipt(nullptr, PrinterResultsx, 0); });
  } else {
    ui::showMessage(QStringLiteral("Нет открытых чеков"));
    return;
  }
  ui::processMessages();
  // A receipt the register would not cancel (it is paid) is closed instead.
  if (ErrorCounter > 0 && (LastAnswer.ErrorFlags & kFlagFiscalOpen)) {
    ErrorCounter = 0;
    ui::processMessages();
    SendChecked([] { return CloseFiscalReceipt(nullptr, PrinterResultsx, 0); });
    ui::processMessages();
  }
  ui::showMessage(ErrorCounter == 0 ? QStringLiteral("Анулирование - успешно")
                                    : QStringLiteral("Ошибка анулирования"));
}

void TForm1::RadioGroup3Click() {
  Ui::TabSheet5& t = tab5;
  const int kind = t.RadioGroup3Items->checkedId();
  if (kind != 0 && kind != 1) return;  // no item chosen
  const bool byDate = kind == 1;
  t.Button24->setEnabled(true);
  for (QWidget* w : std::initializer_list<QWidget*>{t.Label38, t.Label39, t.DateEdit1, t.DateEdit2}) {
    w->setVisible(byDate);
    w->setEnabled(byDate);
  }
  for (QWidget* w : std::initializer_list<QWidget*>{t.Label40, t.Label41, t.Edit25, t.Edit26}) {
    w->setVisible(!byDate);
    w->setEnabled(!byDate);
  }
}

void TForm1::RadioGroup3Exit() { RadioGroup3Click(); }

void TForm1::Button24Click() {
  Ui::TabSheet5& t = tab5;
  repaint();
  ErrorCounter = 0;
  ui::processMessages();
  const int kind = t.RadioGroup3Items->checkedId();
  const bool shortReport = t.RadioGroup4Items->checkedId() == 0;
  const QByteArray password = toCp1251(shared().reportsPassword);
  if (kind == 0) {
    int first = 0, last = 0;
    for (auto [edit, value] : {std::pair{t.Edit25, &first}, std::pair{t.Edit26, &last}}) {
      if (!StrToInt(edit->text(), value)) {
        ui::showMessage(NotAnInteger(edit->text()));
        return;
      }
    }
    auto report = shortReport ? PrintShortReportByNumber : PrintFullReportByNumber;
    SendChecked([&] { return report(nullptr, PrinterResultsx, 0, password.constData(), first, last); });
  } else if (kind == 1) {
    // The picker's day.month.two-digit-year without its separators: DDMMYY.
    const QByteArray start = t.DateEdit1->date().toString(QStringLiteral("ddMMyy")).toLatin1();
    const QByteArray end = t.DateEdit2->date().toString(QStringLiteral("ddMMyy")).toLatin1();
    auto report = shortReport ? PrintShortReportByDate : PrintFullReportByDate;
    SendChecked([&] {
      return report(nullptr, PrinterResultsx, 0, password.constData(), start.constData(), end.constData());
    });
  } else {
    return;  // no report type chosen
  }
  ui::processMessages();
  if (ErrorCounter > 0)
    ui::showMessage(QStringLiteral("Ошибка выполнения отчета"));
  else
    ui::showMessage(shortReport ? QStringLiteral("Сокращенный отчет выполнен!")
                                : QStringLiteral("Полный отчет выполнен!"));
}
