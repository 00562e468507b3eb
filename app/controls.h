// Small helpers over Qt controls shared by the windows and their pages.
#pragma once

class QComboBox;

// The item index of a combo box as the user sees it: for an editable one the
// item whose text is typed in the edit, -1 when the text matches no item.
int ItemIndex(const QComboBox* box);

class QString;

// Reads a decimal integer as the program's inputs take it: blanks around it
// allowed, an optional sign, digits only, within the 32-bit signed range.
// False (and *value untouched) for any other text.
bool StrToInt(const QString& text, int* value);

// The message for a text that is not the whole number an operation needs.
QString NotAnInteger(const QString& text);
