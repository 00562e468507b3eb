// The page "Общая информация" (TabSheet4): the register's identity and state, filled by the page control's change handler.
#include "app/Mainform.h"

void TForm1::SetUpInfoPage() {}

void TForm1::PageControl1Change() {}
