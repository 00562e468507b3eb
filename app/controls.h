// Small helpers over Qt controls shared by the windows and their pages.
#pragma once

class QComboBox;
class QString;

// The item index of a combo box as the user sees it: for an editable one the
// item whose text is typed in the edit, -1 when the text matches no item.
int ItemIndex(const QComboBox* box);

// The loop tests' message for a number of passes (or a pause) they cannot take.
QString BadPassesText();

// AnswerField (an answer's field as text), and StrToInt and NotAnInteger,
// which the pages use with these.
#include "base/cp1251text.h"
#include "base/numbers.h"
