// The simulator's window (Qt 6 Widgets): the paper tape as it prints, the
// customer display, the register's state and buttons for its faults.
//
// The simulator serves the pty on a thread of its own; the window reads the
// model only through Simulator::withModel, every 100 ms on its own thread,
// holding the lock just long enough to copy what changed.
#pragma once
#include <csignal>
#include <functional>

#include <QWidget>

#include "sim/paper.h"
#include "sim/simulator.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimer;

namespace km4410r::sim {

class SimWindow : public QWidget {
 public:
  explicit SimWindow(Simulator& sim, QWidget* parent = nullptr);
  // Takes what was printed and shown since the last refresh and the state
  // (the timer calls it).
  void refresh();

 private:
  // The window's parts, each filling its members.
  QWidget* buildTape(const QFont& fixed);
  QWidget* buildPortLabel();
  QWidget* buildDisplay(const QFont& fixed);
  QWidget* buildState();
  QWidget* buildFaults();
  void append(const PrintedItem& item);
  void appendLines(const std::string& utf8, bool cut);

  Simulator& sim_;
  PrintedFeed feed_;
  QPlainTextEdit* tape_ = nullptr;
  QLabel* rows_[2] = {nullptr, nullptr};
  QLabel* shownAt_ = nullptr;
  QLabel* receipt_ = nullptr;
  QLabel* paper_ = nullptr;
  QLabel* cover_ = nullptr;
  QLabel* silence_ = nullptr;
  QPushButton* paperOut_ = nullptr;
  QPushButton* coverOpen_ = nullptr;
  QSpinBox* silentAnswers_ = nullptr;
  QPushButton* silenceButton_ = nullptr;
  QTimer* timer_ = nullptr;
};

// Shows the window over a running simulator until it is closed or one of the
// signals in `stop` arrives (they are blocked in every thread); `tick` runs on
// the window's thread after every refresh. Returns the exit status.
int runSimWindow(int argc, char** argv, Simulator& sim, const sigset_t& stop, const std::function<void()>& tick);

}  // namespace km4410r::sim
