#include "app/controls.h"

#include <QComboBox>
#include <QString>

#include "base/cp1251text.h"
#include "driver/printer.h"

int ItemIndex(const QComboBox* box) {
  if (!box->isEditable()) return box->currentIndex();
  const QString text = box->currentText();
  const int current = box->currentIndex();
  if (current >= 0 && box->itemText(current) == text) return current;
  return box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

QString BadPassesText() {
  return QStringLiteral("Некорректное количество проходов теста \n   исправьте!!!");
}
