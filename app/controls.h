// Small helpers over Qt controls shared by the windows and their pages.
#pragma once

class QComboBox;
class QString;
struct RetData;

// The item index of a combo box as the user sees it: for an editable one the
// item whose text is typed in the edit, -1 when the text matches no item.
int ItemIndex(const QComboBox* box);

// The loop tests' message for a number of passes (or a pause) they cannot take.
QString BadPassesText();

// Field i of an answer as text; an empty text for a field the answer did not
// carry.
QString AnswerField(const RetData& answer, int i);

// StrToInt and NotAnInteger, which the pages use with these.
#include "base/numbers.h"
