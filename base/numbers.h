// Whole numbers as the program's inputs take them.
#pragma once

class QString;

// Reads a decimal integer: blanks around it allowed, an optional sign, digits
// only, within the 32-bit signed range. False (and *value untouched) for any
// other text.
bool StrToInt(const QString& text, int* value);

// The message for a text that is not the whole number an operation needs.
QString NotAnInteger(const QString& text);
