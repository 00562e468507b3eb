#include "tests/app/harness.h"

#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include "base/cp1251text.h"
#include "app/program.h"
#include "app/shape.h"
#include "app/stringgrid.h"
#include "driver/testing.h"

namespace km::test {

int runWindowTests(int argc, char** argv, const std::function<int(int, char**)>& run) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A runtime folder of this process alone (mode 0700), below the one given
  // (CTest gives each test its own) or below the temporary folder.
  const QString base = qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")
                           ? QDir::tempPath()
                           : qEnvironmentVariable("XDG_RUNTIME_DIR");
  QTemporaryDir runtime(base + QStringLiteral("/km-app-XXXXXX"));
  if (!runtime.isValid()) {
    std::fprintf(stderr, "harness: cannot create a runtime folder below %s\n", qPrintable(base));
    return 1;
  }
  ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
  KmApplication app(argc, argv);
  return run(argc, argv);
}

QString portFolder() { return qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/km4410r"); }

// ---- Session ---------------------------------------------------------------

Session::Session(SessionOptions options) : options_(options) {
  km_driver::ResetDriverForTests();
  if (options_.silenceReads > 0) km_driver::SetSilenceWaitForTests(options_.silenceReads);
  ui.installSelf();
  if (options_.simulator) {
    simulator = std::make_unique<sim::Simulator>(options_.simOptions);
    std::string error;
    if (!simulator->start(&error) || !simulator->registerCom(options_.com, &error))
      qFatal("harness: simulator: %s", error.c_str());
  }
  CreateWindows();
  Form1->show();
  QCoreApplication::processEvents();
}

Session::~Session() {
  DestroyWindows();
  standIns().clear();
  km_driver::ResetDriverForTests();
  if (simulator) simulator->stop();
}

bool Session::connect(int com, int speedIndex) {
  if (com == 0) com = options_.com;
  form().ComboBox1->setCurrentIndex(com - 1);
  form().ComboBox3->setCurrentIndex(speedIndex);
  click(form().Button2);
  return Form1->isConnected();
}

void Session::disconnect() {
  if (Form1->isConnected()) click(form().Button2);
}

std::vector<sim::JournalEntry> Session::frames() const {
  return simulator ? simulator->journal() : std::vector<sim::JournalEntry>{};
}

void Session::clearFrames() {
  if (simulator) simulator->clearJournal();
}

void Session::model(const std::function<void(sim::RegisterModel&)>& f) {
  if (simulator) simulator->withModel(f);
}

void Session::whileOpen(const QString& dialog, std::function<void(QDialog&)> script) {
  ui.dialogScripts[dialog] = std::move(script);
}

// ---- acting ----------------------------------------------------------------

namespace {

// Records a failure of the running test function (it goes on, so that the
// caller's own checks report what followed).
void fail(const QString& what) {
  const QByteArray text = ("harness: " + what).toUtf8();
  QTest::qFail(text.constData(), __FILE__, __LINE__);
}

QString nameOf(const QWidget* w) {
  if (!w) return QStringLiteral("(none)");
  return w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                   : w->objectName();
}

// A user can reach the control: it exists, is shown and is enabled.
bool reachable(const QWidget* w, const char* action) {
  if (!w) {
    fail(QStringLiteral("%1 on a control that does not exist").arg(QLatin1String(action)));
    return false;
  }
  if (!w->isVisible() || !w->isEnabled()) {
    fail(QStringLiteral("%1 on %2, which is %3")
             .arg(QLatin1String(action), nameOf(w),
                  w->isVisible() ? QStringLiteral("disabled") : QStringLiteral("hidden")));
    return false;
  }
  return true;
}

}  // namespace

void click(QAbstractButton* button) {
  if (!reachable(button, "click")) return;
  QTest::mouseClick(button, Qt::LeftButton);
}

void typeInto(QLineEdit* edit, const QString& text) {
  if (!reachable(edit, "typing")) return;
  if (edit->isReadOnly()) {
    fail(QStringLiteral("typing into %1, which is read-only").arg(nameOf(edit)));
    return;
  }
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
}

void typeInto(QComboBox* box, const QString& text) {
  if (!reachable(box, "typing")) return;
  if (!box->lineEdit()) {
    fail(QStringLiteral("typing into %1, which is not editable").arg(nameOf(box)));
    return;
  }
  typeInto(box->lineEdit(), text);
}

void clickTab(PageControl* pages, int index) {
  click(pages->tabBar()->tab(index));
}

// ---- reading ---------------------------------------------------------------

QString shown(const QWidget* w) {
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
  if (auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText();
  if (auto* d = qobject_cast<const QDateEdit*>(w)) return d->text();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (auto* m = qobject_cast<const QPlainTextEdit*>(w)) return m->toPlainText();
  return QString();
}

QWidget* findControl(const QString& name) {
  QWidget* found = nullptr;
  for (QWidget* window : std::initializer_list<QWidget*>{Form1, Form4, Form5}) {
    if (!window) continue;
    QWidget* w = window->objectName() == name ? window : window->findChild<QWidget*>(name);
    if (!w) continue;
    // The same name in two windows (CheckBox1 of the main window and of the
    // viewer): the test must say which window it means.
    if (found) fail(QStringLiteral("control %1 is in more than one window").arg(name));
    else found = w;
  }
  return found;
}

void reportMissing(const QString& name, const char* type) {
  fail(QStringLiteral("no control %1 of type %2").arg(name, QLatin1String(type)));
}

std::vector<std::unique_ptr<QWidget>>& standIns() {
  static std::vector<std::unique_ptr<QWidget>> kept;
  return kept;
}

QWidget* control(const QString& name) { return control<QWidget>(name); }

QList<QStringList> gridTexts(const StringGrid* grid) {
  QList<QStringList> rows;
  for (int r = 0; r < grid->rowCount(); ++r) {
    QStringList row;
    for (int c = 0; c < grid->columnCount(); ++c) row << grid->Cells(c, r);
    rows << row;
  }
  return rows;
}

unsigned indicatorColour() { return Form1->ui.Shape1->brushColor().rgb() & 0xFFFFFFu; }

QStringList sent(const Session& s) {
  QStringList out;
  for (const auto& f : s.frames())
    out << QString::asprintf("%02X", f.cmd) + "[" + fromCp1251(f.hostData.c_str()) + "]";
  return out;
}

void forget(Session& s) {
  s.clearFrames();
  s.ui.messages.clear();
}

QStringList messagesWith(Session& s, const FaultSpec& f, QAbstractButton* button) {
  s.ui.messages.clear();
  s.simulator->injectFault(f);
  click(button);
  return s.ui.messages;
}

void openPage(Session& s, int page) {
  QVERIFY(s.connect());
  clickTab(s.form().PageControl1, page);
  QCOMPARE(s.form().PageControl1->currentIndex(), page);
  forget(s);
}

FaultSpec fault(Fault kind, int command, int count, int skip) {
  FaultSpec f;
  f.fault = kind;
  f.onlyCommand = command;
  f.count = count;
  f.skip = skip;
  return f;
}

QString buddyText(const QWidget* control) {
  for (QLabel* l : control->window()->findChildren<QLabel*>())
    if (l->buddy() == control) return l->text();
  return QString();
}

void clickCell(StringGrid* grid, int col, int row) {
  const QModelIndex index = grid->model()->index(row, col);
  grid->scrollTo(index);
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
}

QString editorText(const StringGrid* grid) {
  for (QLineEdit* editor : grid->findChildren<QLineEdit*>())
    if (editor->isVisible()) return editor->text();
  return QString();
}

}  // namespace km::test
