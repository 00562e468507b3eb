// The page "Установка даты-времени и налоги" (TabSheet11): the clock, setting
// and reading the register's date and time, the tax rates of groups А to Г,
// and a Z report.
//
// The date and time edits follow the PC clock until the user chooses a date
// or edits the time (the window's date-chosen and time-edited marks).
#include <QCalendarWidget>
#include <QDateEdit>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QTimer>
#include <cmath>
#include <functional>

#include "app/Mainform.h"
#include "app/controls.h"
#include "base/cp1251text.h"

namespace {

const QString kAllowed = QStringLiteral("Разрешён");
const QString kForbidden = QStringLiteral("Запрещён");
const QString kTimeError = QStringLiteral("Ошибка установки времени -\n повторите !");
const QString kSuccess = QStringLiteral("Успешно!");
constexpr int kTaxedGroups = 4;  // rows 1..4; row 5 is the untaxed group
constexpr int kLastGroupRow = 5;

const QString kDateFormat = QStringLiteral("dd.MM.yy");
const QString kTimeFormat = QStringLiteral("hh:mm");

// Runs `action` on each left click of the widget it watches.
class ClickWatcher final : public QObject {
 public:
  ClickWatcher(QObject* parent, std::function<void()> action)
      : QObject(parent), action_(std::move(action)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
      action_();
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> action_;
};


// A date "dd.mm.yy" of this century (the register keeps two-digit years);
// an invalid date for any other text.
QDate ShortDate(const QString& text) {
  if (text.size() != 8 || text[2] != QLatin1Char('.') || text[5] != QLatin1Char('.')) return {};
  for (int i : {0, 1, 3, 4, 6, 7})
    if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9')) return {};
  const int day = text.mid(0, 2).toInt(), month = text.mid(3, 2).toInt(), year = text.mid(6, 2).toInt();
  return QDate(2000 + year, month, day);
}

// A tax rate as typed, its first point being the decimal separator whatever
// the PC's number settings say. False for a text that is no finite number.
bool RateValue(const QString& text, double* value) {
  QLocale c = QLocale::c();
  c.setNumberOptions(QLocale::RejectGroupSeparator);
  bool ok = false;
  const double v = c.toDouble(text.trimmed(), &ok);
  if (!ok || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

// Sets an edit's text only when it differs, so that a refill with the same
// time leaves the cursor and selection where the user has them.
void Refill(QLineEdit* edit, const QString& text) {
  if (edit->text() != text) edit->setText(text);
}

void Refill(QDateEdit* edit, const QDate& date) {
  const QSignalBlocker quiet(edit);  // the program's fill is no choice of the user's
  if (edit->date() != date) edit->setDate(date);
}

// The grid shows all its cells without scrolling.
void FitGrid(StringGrid* grid) {
  grid->resizeColumnsToContents();
  const int wide = grid->fontMetrics().horizontalAdvance(QStringLiteral("Запрещён")) + 16;
  for (int c = 2; c < grid->columnCount(); ++c)
    if (grid->columnWidth(c) < wide) grid->setColumnWidth(c, wide);
  int width = 2 * grid->frameWidth(), height = 2 * grid->frameWidth();
  for (int c = 0; c < grid->columnCount(); ++c) width += grid->columnWidth(c);
  for (int r = 0; r < grid->rowCount(); ++r) height += grid->rowHeight(r);
  grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid->setFixedSize(width, height);
}

}  // namespace

void TForm1::SetUpClockAndTaxesPage() {
  StringGrid* taxes = tab11.StringGrid1;
  taxes->setFixed(1, 1);
  taxes->setAccessibleName(tab11.LabelTaxGroups->text());
  taxes->setSelectCellHandler(
      [this](int col, int row, bool& canSelect) { StringGrid1SelectCell(col, row, canSelect); });

  // The clock: the PC time once a second; each time asked also refreshes
  // the edits that follow it.
  auto* clock = new QTimer(this);
  clock->setObjectName(QStringLiteral("RxClock1Timer"));
  clock->setInterval(1000);
  connect(clock, &QTimer::timeout, this, [this] {
    QDateTime time = ui::now();
    RxClock1GetTime(time);
    tab11.RxClock1->setText(time.time().toString(QStringLiteral("hh:mm:ss")));
  });
  clock->start();
  tab11.RxClock1->installEventFilter(new ClickWatcher(this, [this] { RxClock1Click(); }));

  // Only what the user types marks the time as edited.
  connect(tab11.Edit39, &QLineEdit::textEdited, this, &TForm1::Edit39Change);

  // The date is chosen, not typed: in the calendar (a click on the date shown
  // counts too) or by stepping it with the keys or the wheel.
  QDateEdit* date = tab11.DateEdit3;
  if (QLineEdit* text = date->findChild<QLineEdit*>()) text->setReadOnly(true);
  const auto accept = [this](QDate chosen) {
    bool accepted = true;
    DateEdit3AcceptDate(chosen, accepted);
    if (accepted && chosen.isValid()) Refill(tab11.DateEdit3, chosen);
  };
  connect(date, &QDateEdit::dateChanged, this, accept);
  if (QCalendarWidget* calendar = date->calendarWidget()) {
    connect(calendar, &QCalendarWidget::clicked, this, accept);
    connect(calendar, &QCalendarWidget::activated, this, accept);
  }

  ConnectClicks({{tab11.Button31, &TForm1::Button31Click},
                 {tab11.Button30, &TForm1::Button30Click},
                 {tab11.Button36, &TForm1::Button36Click},
                 {tab11.Button33, &TForm1::Button33Click},
                 {tab11.Button35, &TForm1::Button35Click}});
}

QDateTime TForm1::FollowPcClock() {
  DateChosenMark = 0;
  TimeEditedMark = 0;
  const QDateTime now = ui::now();
  tab11.Label59->setText(now.date().toString(kDateFormat));
  Refill(tab11.DateEdit3, now.date());
  Refill(tab11.Edit39, now.time().toString(kTimeFormat));
  return now;
}

void TForm1::RestoreClockAndTaxesDefaults() {
  const QDateTime now = FollowPcClock();
  tab11.RxClock1->setText(now.time().toString(QStringLiteral("hh:mm:ss")));

  StringGrid* taxes = tab11.StringGrid1;
  taxes->setColumnCount(4);
  taxes->setRowCount(6);
  const QStringList heads = {QStringLiteral("№"), QStringLiteral("Group"),
                             QStringLiteral("Rate"), QStringLiteral("Action")};
  const QStringList letters = {QStringLiteral("А"), QStringLiteral("Б"), QStringLiteral("В"),
                               QStringLiteral("Г"), QStringLiteral("Д")};
  const QStringList rates = {QStringLiteral("20.00"), QStringLiteral("00.00"),
                             QStringLiteral("00.00"), QStringLiteral("00.00"),
                             QStringLiteral("UnTaxed")};
  for (int c = 0; c < 4; ++c) taxes->setCells(c, 0, heads[c]);
  for (int r = 1; r <= 5; ++r) {
    taxes->setCells(0, r, QString::number(r));
    taxes->setCells(1, r, letters[r - 1]);
    taxes->setCells(2, r, rates[r - 1]);
    taxes->setCells(3, r, kAllowed);
  }
  FitGrid(taxes);
}

// ---- following the PC clock --------------------------------------------------

void TForm1::RxClock1GetTime(QDateTime& time) {
  if (!TimeEditedMark) Refill(tab11.Edit39, time.time().toString(kTimeFormat));
  if (!DateChosenMark) Refill(tab11.DateEdit3, time.date());
}

void TForm1::RxClock1Click() { Refill(tab11.Edit39, ui::now().time().toString(kTimeFormat)); }

void TForm1::Edit39Change() { TimeEditedMark = 1; }

void TForm1::DateEdit3AcceptDate(QDate&, bool&) { DateChosenMark = 1; }

// ---- the register's clock ------------------------------------------------------

void TForm1::Button31Click() {
  tab11.Button31->setEnabled(false);
  tab11.Button30->setEnabled(false);
  ErrorCounter = 0;
  SendChecked([] { return GetStatus(nullptr, PrinterResults, 0, 0); });
  ErrorCounter = 0;  // the status only wakes the register; its outcome does not count

  // dd.mm.yy as the register takes it: dd-mm-yy.
  QString dateText = tab11.DateEdit3->text();
  if (dateText.size() > 2) dateText[2] = QLatin1Char('-');
  if (dateText.size() > 5) dateText[5] = QLatin1Char('-');
  const QByteArray date = toCp1251(dateText);
  const QByteArray time = toCp1251(tab11.Edit39->text());
  SendChecked([&] { return SetDateTime(nullptr, PrinterResults, 0, date.constData(), time.constData()); });

  if (ErrorCounter == 0) {
    ui::showMessage(kSuccess);
    // Set as shown: from now on both edits follow the PC clock again.
    FollowPcClock();
    repaint();
  } else {
    ui::showMessage(kTimeError);
  }
  tab11.Button31->setEnabled(true);
  tab11.Button30->setEnabled(true);
}

void TForm1::Button30Click() {
  tab11.Button31->setEnabled(false);
  tab11.Button30->setEnabled(false);
  const auto done = [this] {
    tab11.Button31->setEnabled(true);
    tab11.Button30->setEnabled(true);
  };
  ErrorCounter = 0;
  SendChecked([] { return GetStatus(nullptr, PrinterResults, 0, 0); });
  ErrorCounter = 0;
  SendChecked([] { return GetDateTime(nullptr, PrinterResults, 0); });

  // Field 0 the date dd-mm-yy, field 1 the time hh:mm:ss. An answer without
  // both, or with a date the calendar does not know, changes nothing.
  QDate date;
  QString time;
  if (ErrorCounter == 0 && LastAnswer.FieldCount >= 2) {
    QString dateText = AnswerField(LastAnswer, 0);
    if (dateText.size() > 2) dateText[2] = QLatin1Char('.');
    if (dateText.size() > 5) dateText[5] = QLatin1Char('.');
    date = ShortDate(dateText.left(8));
    time = AnswerField(LastAnswer, 1).left(5);
  }
  if (!date.isValid()) {
    ui::showMessage(kTimeError);
    done();
    return;
  }
  Refill(tab11.DateEdit3, date);
  Refill(tab11.Edit39, time);
  // The edits now show the register's clock, not the PC's: they keep it
  // until the user changes them or the time is set.
  DateChosenMark = 1;
  TimeEditedMark = 1;
  ui::showMessage(kSuccess);
  repaint();
  done();
}

// ---- the tax rates ------------------------------------------------------------

void TForm1::StringGrid1SelectCell(int col, int row, bool& canSelect) {
  StringGrid* grid = tab11.StringGrid1;
  if (row == kLastGroupRow) {  // the untaxed group is shown only
    grid->setEditing(false);
    return;
  }
  // A rate of groups А to Г is typed in, its action switched.
  grid->typeOrToggle(col, row, col == 2, canSelect, 3, kForbidden, kAllowed);
}

void TForm1::Button36Click() {
  StringGrid* grid = tab11.StringGrid1;
  ErrorCounter = 0;
  SendChecked([] { return ReadDecimalsAndTaxRates(nullptr, PrinterResultsx, 0); });
  // Without field 1 the answer says nothing about the groups.
  if (ErrorCounter > 0 || LastAnswer.FieldCount < 2) {
    ui::showMessage(QStringLiteral("Read tax error"));
    return;
  }
  // One digit per group in field 1, the rates from field 2 on; the grid has
  // rows for five groups only.
  const QString groups = AnswerField(LastAnswer, 1);
  for (int i = 0; i < groups.size() && i + 1 <= kLastGroupRow; ++i) {
    grid->setCells(3, i + 1, groups[i] == QLatin1Char('0') ? kForbidden : kAllowed);
    grid->setCells(2, i + 1, AnswerField(LastAnswer, i + 2));
  }
  ui::showMessage(kSuccess);
}

void TForm1::Button33Click() {
  StringGrid* grid = tab11.StringGrid1;
  QByteArray groups(kTaxedGroups, '0');
  double rates[kTaxedGroups] = {};
  for (int row = 1; row <= kTaxedGroups; ++row) {
    if (grid->Cells(3, row) == kAllowed) groups[row - 1] = '1';
    const QString rate = grid->Cells(2, row);
    if (!rate.contains(QLatin1Char('.'))) {
      ui::showMessage(QStringLiteral("Десятичная точка отсутствует!"));
      return;
    }
    if (!RateValue(rate, &rates[row - 1])) {
      ui::showMessage(QStringLiteral("'%1' не является числом").arg(rate));
      return;
    }
  }
  ErrorCounter = 0;
  const QByteArray password = toCp1251(shared().programmingPassword);
  SendChecked([&] {
    return SetDecimalsAndTaxRates(nullptr, PrinterResultsx, 0, password.constData(), 2,
                                  groups.constData(), rates[0], rates[1], rates[2], rates[3]);
  });
  ui::showMessage(ErrorCounter == 0 ? kSuccess : QStringLiteral("Ошибка."));
}

void TForm1::Button35Click() {
  const QByteArray password = toCp1251(shared().reportsPassword);
  SendAndTell([&] { return PrintDailyReport(nullptr, PrinterResultsx, 0, password.constData(), '0'); },
              QStringLiteral("Z-отчет - успешно"), QStringLiteral("Ошибка отчета"));
}
