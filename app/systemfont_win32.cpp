#include <windows.h>

#include <QApplication>
#include <QFont>
#include <QFontInfo>
#include <QStringList>

#include "app/systemfont.h"

void UseSystemUiFont() {
  // The system's message font first, then UI fonts with Cyrillic that a
  // Windows (or Wine with the host's fonts) has: the first one the font
  // database really has is taken.
  QStringList families;
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
    families << QString::fromWCharArray(metrics.lfMessageFont.lfFaceName);
  families << QStringLiteral("Segoe UI") << QStringLiteral("Tahoma") << QStringLiteral("Arial")
           << QStringLiteral("DejaVu Sans") << QStringLiteral("Liberation Sans");
  QFont font = QApplication::font();
  for (const QString& family : families) {
    if (family.isEmpty()) continue;
    QFont candidate = font;
    candidate.setFamilies({family});
    if (QFontInfo(candidate).family().compare(family, Qt::CaseInsensitive) == 0) {
      QApplication::setFont(candidate);
      return;
    }
  }
}
