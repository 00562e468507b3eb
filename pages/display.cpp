// The page "Индикаторы клиента" (TabSheet2): the scrolling display test, character and line output.
#include "app/Mainform.h"

void TForm1::SetUpDisplayPage() {}
void TForm1::Button7Click() {}
void TForm1::Button11Click() {}
void TForm1::TabSheet2Enter() {}
void TForm1::Button8Click() {}
void TForm1::Button9Click() {}
