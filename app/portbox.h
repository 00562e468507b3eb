// The port box: a combo box that tells when its list is about to open, however
// it is opened (the mouse, F4, Alt+Down, a screen reader's action), so that
// the ports found on the machine can be found anew first.
#pragma once
#include <QComboBox>

class PortBox : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  void showPopup() override {
    emit aboutToShowPopup();
    QComboBox::showPopup();
  }

 signals:
  void aboutToShowPopup();
};
