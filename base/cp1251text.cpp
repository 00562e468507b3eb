#include "base/cp1251text.h"

#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {
constexpr const char* kCodec = "windows-1251";

char encodeOne(char32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  QStringEncoder encoder(kCodec, QStringConverter::Flag::Stateless);
  const QString one = QString::fromUcs4(&cp, 1);
  const QByteArray b = encoder.encode(one);
  if (encoder.hasError() || b.size() != 1) return '?';
  return b.at(0);
}
}  // namespace

QByteArray toCp1251(const QString& text) {
  QStringEncoder encoder(kCodec, QStringConverter::Flag::Stateless);
  QByteArray bytes = encoder.encode(text);
  if (!encoder.hasError() && bytes.size() == text.size()) return bytes;
  // Some character has no CP1251 byte: encode one code point at a time so that
  // exactly those become '?'.
  bytes.clear();
  for (char32_t cp : text.toUcs4()) bytes.append(encodeOne(cp));
  return bytes;
}

QString fromCp1251(const char* text) {
  if (!text) return QString();
  QStringDecoder decoder(kCodec, QStringConverter::Flag::Stateless);
  return decoder.decode(QByteArrayView(text));
}
