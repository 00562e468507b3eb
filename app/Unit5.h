// The status-byte viewer (TForm5): the six status bytes of the last answer
// the main window received, bit by bit, and a refresh that asks anew.
#pragma once
#include <QCheckBox>
#include <QDialog>
#include <array>

#include "app/uiservices.h"
#include "driver/printer.h"
#include "ui_Unit5.h"

class TForm5 : public QDialog, public ui::Activatable {
  Q_OBJECT
 public:
  explicit TForm5(QWidget* parent = nullptr);

  Ui::TForm5 ui;

  // Shows the viewer modally; returns when it is closed.
  int ShowModal();
  // The check box of status byte `byte` (0..5), bit `bit` (0..7).
  QCheckBox* BitBox(int byte, int bit) const { return boxes_[byte][bit]; }

  void FormActivate() override;
  void Button2Click();
  void Button1Click();

 private:
  // Ticks the boxes from the main window's last answer.
  void ShowStatusBytes();

  std::array<std::array<QCheckBox*, 8>, 6> boxes_{};
};

extern TForm5* Form5;
