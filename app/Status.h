// The invalid-state dialog (TForm4): asks the register for its state and
// lists why the register test cannot run on it.
#pragma once
#include <QDialog>
#include <cstdint>

#include "app/uiservices.h"
#include "driver/printer.h"
#include "ui_Status.h"

class TForm4 : public QDialog, public ui::Activatable {
  Q_OBJECT
 public:
  explicit TForm4(QWidget* parent = nullptr);

  // The dialog's own state, apart from the main window's.
  RetData LastAnswer{};
  int32_t ErrorCounter = 0;

  Ui::TForm4 ui;

  // Shows the dialog modally; returns when the user has closed it.
  int ShowModal();

  void FormShow() override;
  void FormActivate() override;
  void Button1Click();

 private:
  bool requested_ = false;  // the request of this showing has been made
};

extern TForm4* Form4;

// Result handler of the dialog: copies the answer into Form4->LastAnswer; for
// an erroneous answer shows the first error's message and adds 1 to
// Form4->ErrorCounter.
void PrinterResults3(RetData& data);
