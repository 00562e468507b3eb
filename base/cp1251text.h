// The one place where window texts (QString) meet the driver's texts
// (zero-terminated Windows-1251 byte strings).
#pragma once
#include <QByteArray>
#include <QString>

#include "driver/printer.h"

// A window text as CP1251 bytes for the driver. A character that CP1251 lacks
// becomes '?'. The result is zero-terminated (QByteArray::constData()).
QByteArray toCp1251(const QString& text);
// A CP1251 text from the driver (null gives an empty text).
QString fromCp1251(const char* text);
// Field i of an answer as text; an empty text for a field the answer did not
// carry.
QString AnswerField(const RetData& answer, int i);
