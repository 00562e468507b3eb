#include "base/cp1251text.h"

#include "common/utf8.h"

// The tables are the project's own (common/utf8): a Qt built without ICU has
// no windows-1251 codec, and the windows must not depend on one.

QByteArray toCp1251(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  const std::string bytes = km_text::Utf8ToCp1251(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString fromCp1251(const char* text) {
  if (!text) return QString();
  const std::string utf8 = km_text::Cp1251ToUtf8(text);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString AnswerField(const RetData& answer, int i) {
  if (i < 0 || i >= answer.FieldCount || i >= kMaxFields) return QString();
  return fromCp1251(answer.Fields[i]);
}
