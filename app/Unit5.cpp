#include "app/Unit5.h"

#include <QGroupBox>

#include "app/Mainform.h"

TForm5* Form5 = nullptr;

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
  ui.setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  QFont f = font();
  f.setPixelSize(10);
  setFont(f);

  // The groups are disabled so that nobody ticks a box by hand; their texts
  // stay as readable as enabled ones.
  for (QGroupBox* group : findChildren<QGroupBox*>()) {
    QPalette pal = group->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
      pal.setColor(QPalette::Disabled, role, pal.color(QPalette::Active, role));
    group->setPalette(pal);
    if (QLayout* layout = group->layout()) {
      layout->setSpacing(0);
      layout->setContentsMargins(6, 2, 6, 2);
    }
  }

  // Status byte -> its group's first check box: the groups stand in two
  // columns (bytes 0, 1, 2 on the left; 3, 4, 5 on the right).
  static constexpr int kFirstBox[6] = {1, 17, 33, 9, 25, 41};
  for (int byte = 0; byte < 6; ++byte)
    for (int bit = 0; bit < 8; ++bit)
      boxes_[byte][bit] = findChild<QCheckBox*>(
          QStringLiteral("CheckBox%1").arg(kFirstBox[byte] + bit));

  connect(ui.Button2, &QPushButton::clicked, this, &TForm5::Button2Click);
  connect(ui.Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
}

int TForm5::ShowModal() { return ui::showModal(*this, *this); }

void TForm5::ShowStatusBytes() {
  const RetData last = Form1 ? Form1->shared().lastAnswer : RetData{};
  for (int byte = 0; byte < 6; ++byte) {
    for (int bit = 0; bit < 7; ++bit)
      boxes_[byte][bit]->setChecked(Form1 && (last.StatusBytes[byte] & (1u << bit)));
    // The register always sends bit 7 set; the driver clears it.
    boxes_[byte][7]->setChecked(true);
  }
}

void TForm5::FormActivate() { ShowStatusBytes(); }

void TForm5::Button2Click() {
  GetStatus(nullptr, PrinterResults, 0, 0);
  if (Form1 && (Form1->shared().lastAnswer.ErrorFlags & kFlagTimeout)) {
    ui::showMessage(QStringLiteral("Таймаут - фискальный регистратор не отвечает!"));
    return;
  }
  ShowStatusBytes();
}

void TForm5::Button1Click() { close(); }
