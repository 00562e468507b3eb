// The main window (TForm1): the page control with the service pages, the
// connection row at the bottom, the window state every operation works with,
// and the result handlers that bring answers into it.
#pragma once
#include <QWidget>
#include <cstdint>

#include "app/uiservices.h"
#include "driver/printer.h"
#include "ui_Mainform.h"

class QShowEvent;

class TForm1 : public QWidget, public ui::Activatable {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // ---- window state, read and written by the pages and the handlers ----
  RetData LastAnswer{};      // plain copy of the record last delivered here
  int32_t ErrorCounter = 0;  // erroneous answers since the operation reset it
  uint8_t StopFlag = 0;      // 1: a running loop operation should end
  int32_t BusyMark = 0;      // code of the running long operation, 0 when idle
  uint8_t DateChosenMark = 0;  // a date was accepted in DateEdit3
  uint8_t TimeEditedMark = 0;  // Edit39 was changed

  Ui::TForm1 ui;

  static constexpr QRgb kRed = 0xFF0000;    // disconnected
  static constexpr QRgb kGreen = 0x00FF00;  // connected
  bool isConnected() const;
  // The save-file dialog of the test log (SaveDialog1); empty when cancelled.
  QString SaveDialog1Execute();

  // ---- event handlers, connected in the constructor ----
  void FormActivate() override;
  void Button2Click();
  void Button25Click();
  void Button1Click();
  void PageControl1Change();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The register's switch settings decide whether texts are translated.
  void CheckSwitches();
  void RestoreDefaults();
  // The message for a port that did not open; `typed` names a typed text
  // that is no item and no path (null otherwise).
  QString PortOpenFailure(const QString& typed) const;

  bool shownOnce_ = false;
  bool defaultsRestored_ = false;
};

// The main window, created at program start.
extern TForm1* Form1;

// Message for the first error flag set in `flags`, in the order the handlers
// test them; an empty text when no error flag is set.
QString FirstErrorMessage(uint32_t flags);

// Result handlers of the main window: copy the answer into Form1->LastAnswer;
// for an erroneous answer show the first error's message (not PrinterResultsy)
// and add 1 to Form1->ErrorCounter.
void PrinterResults(RetData& data);
void PrinterResultsx(RetData& data);
void PrinterResultsy(RetData& data);

