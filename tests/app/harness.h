// Window test harness: the program's three windows on the offscreen
// platform, the register simulator on a pty registered as a COM number in a
// virtual port folder of the test process's own, and the ui services fakes.
//
//   KM_WINDOW_TEST_MAIN(MyTest)       // in the test source, instead of QTEST_MAIN
//   void MyTest::someCase() {
//     km::test::Session s;             // windows shown, simulator as COM1
//     QVERIFY(s.connect());
//     ...
//   }
#pragma once
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <functional>
#include <memory>
#include <vector>

#include "app/Mainform.h"
#include "app/Status.h"
#include "app/Unit5.h"
#include "app/uifakes.h"
#include "sim/register_model.h"
#include "sim/simulator.h"

// The main window's own state, as the window tests check and set it.
struct MainWindowProbe {
  explicit MainWindowProbe(TForm1& f)
      : LastAnswer(f.LastAnswer),
        ErrorCounter(f.ErrorCounter),
        StopFlag(f.StopFlag),
        BusyMark(f.BusyMark),
        DateChosenMark(f.DateChosenMark),
        TimeEditedMark(f.TimeEditedMark) {}
  RetData& LastAnswer;
  int32_t& ErrorCounter;
  uint8_t& StopFlag;
  int32_t& BusyMark;
  uint8_t& DateChosenMark;
  uint8_t& TimeEditedMark;
};

namespace km::test {

namespace sim = km4410r::sim;
using sim::Fault;
using sim::FaultSpec;
using sim::RegisterModel;

// The result handlers' messages for the register's refusals.
inline const QString kNotAllowed = QStringLiteral("Команда не разрешена");
inline const QString kSyntax = QStringLiteral("Синтаксическая ошибка");

// Runs the test object with offscreen windows and a fresh XDG_RUNTIME_DIR.
int runWindowTests(int argc, char** argv, const std::function<int(int, char**)>& run);

// The virtual port folder of this process ($XDG_RUNTIME_DIR/km4410r).
QString portFolder();

struct SessionOptions {
  bool simulator = true;  // start a simulator
  int com = 1;            // and register it as COMn
  sim::Options simOptions = fastSimulator();
  // Empty reads the driver waits through before it calls the register
  // silent (0: the driver's own 50, about five seconds).
  int silenceReads = 0;
  static sim::Options fastSimulator() {
    sim::Options o;
    o.baud = 0;  // no pacing: the tests need no line timing
    return o;
  }
};

// One test case's world: fakes installed, windows created and the main window
// shown (its first activation has run), simulator serving. The destructor
// tears everything down and resets the driver.
class Session {
 public:
  explicit Session(SessionOptions options = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  FakeServices ui;
  std::unique_ptr<sim::Simulator> simulator;

  TForm1& main() { return *Form1; }
  Ui::TForm1& form() { return Form1->ui; }
  MainWindowProbe state() { return MainWindowProbe(*Form1); }

  // Chooses COMn (default: the simulator's) and a speed item, then clicks
  // Button2. True when the window ends up connected.
  bool connect(int com = 0, int speedIndex = 1);
  // Clicks Button2 while connected.
  void disconnect();

  // Frames the simulator received since the last clearFrames().
  std::vector<sim::JournalEntry> frames() const;
  void clearFrames();
  // Runs f on the register model (the simulator waits meanwhile).
  void model(const std::function<void(sim::RegisterModel&)>& f);

  // Runs `script` while the dialog with this object name is open.
  void whileOpen(const QString& dialog, std::function<void(QDialog&)> script);

 private:
  SessionOptions options_;
};

// ---- acting as the user -------------------------------------------------

// Clicks a button with the mouse as a user would. A click the user could not
// make (the button missing, disabled or hidden) fails the test, naming the
// button, and does nothing.
void click(QAbstractButton* button);
// Selects the text of an edit (or an editable combo box's edit) and types
// `text` over it; an edit the user could not type into fails the test.
void typeInto(QLineEdit* edit, const QString& text);
void typeInto(QComboBox* box, const QString& text);
// Clicks the caption of page `index` of a page control.
void clickTab(PageControl* pages, int index);

// ---- reading what the windows show ---------------------------------------

// The text a control shows: label, edit, combo box, button, memo, date edit.
QString shown(const QWidget* control);
// The control with this object name in one of the program's windows. A name
// missing (or of another type) fails the test and gives a hidden stand-in
// of the type, so that the test goes on to its end without crashing.
QWidget* findControl(const QString& name);  // nullptr when missing
void reportMissing(const QString& name, const char* type);
std::vector<std::unique_ptr<QWidget>>& standIns();
template <class T>
T* control(const QString& name) {
  if (T* w = qobject_cast<T*>(findControl(name))) return w;
  reportMissing(name, T::staticMetaObject.className());
  auto standIn = std::make_unique<T>();
  T* w = standIn.get();
  standIns().push_back(std::move(standIn));
  return w;
}
QWidget* control(const QString& name);
// Texts of a string grid, row by row (Cells(col, row) as rows[row][col]).
QList<QStringList> gridTexts(const StringGrid* grid);
// The colour of the connection indicator as 0xRRGGBB.
unsigned indicatorColour();

// ---- the pages' tests ------------------------------------------------------

// The frames the simulator received since the last clearFrames(), each as
// "CC[data]" (code in hex, data decoded from CP1251).
QStringList sent(const Session& s);
// Forgets the frames received and the messages shown so far.
void forget(Session& s);
// Clicks `button` with the fault `f` injected; the messages shown meanwhile.
QStringList messagesWith(Session& s, const FaultSpec& f, QAbstractButton* button);
// Connects, opens page `page` of the main window and forgets what that sent
// and showed.
void openPage(Session& s, int page);
// The fault `kind` on `count` answers to `command` after `skip` of them; a
// refusal is the register's error answer.
FaultSpec fault(Fault kind, int command, int count = 1, int skip = 0);
inline FaultSpec refusal(int command, int count = 1, int skip = 0) {
  return fault(Fault::Refuse, command, count, skip);
}
// The text of the label whose buddy `control` is.
QString buddyText(const QWidget* control);
// Clicks cell (col, row) of a string grid, scrolled into view first.
void clickCell(StringGrid* grid, int col, int row);
// The text of the grid's open cell editor, or a null text when none is open.
QString editorText(const StringGrid* grid);

}  // namespace km::test

#define KM_WINDOW_TEST_MAIN(TestClass)                                        \
  int main(int argc, char** argv) {                                           \
    return km::test::runWindowTests(argc, argv, [](int c, char** v) {         \
      TestClass test;                                                         \
      return QTest::qExec(&test, c, v);                                       \
    });                                                                       \
  }
