// Small helpers over Qt controls shared by the windows and their pages.
#pragma once

class QComboBox;

// The item index of a combo box as the user sees it: for an editable one the
// item whose text is typed in the edit, -1 when the text matches no item.
int ItemIndex(const QComboBox* box);

// StrToInt and NotAnInteger, which the pages use with these.
#include "base/numbers.h"
