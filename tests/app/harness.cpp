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

#include "app/program.h"
#include "app/shape.h"
#include "app/stringgrid.h"
#include "driver/link_internal.h"

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

void click(QAbstractButton* button) {
  if (!button || !button->isVisible() || !button->isEnabled()) return;
  QTest::mouseClick(button, Qt::LeftButton);
}

void typeInto(QComboBox* box, const QString& text) {
  QLineEdit* edit = box->lineEdit();
  if (!edit) return;
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
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

QWidget* control(const QString& name) {
  for (QWidget* window : std::initializer_list<QWidget*>{Form1, Form4, Form5}) {
    if (!window) continue;
    if (window->objectName() == name) return window;
    if (auto* w = window->findChild<QWidget*>(name)) return w;
  }
  qFatal("harness: no control %s", qPrintable(name));
  return nullptr;
}

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

}  // namespace km::test
