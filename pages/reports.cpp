// The page "Дополнительные функции" (TabSheet5): print test, zero receipt, reports, cancellation.
#include "app/Mainform.h"

void TForm1::SetUpReportsPage() {}
void TForm1::Button12Click() {}
void TForm1::Button13Click() {}
void TForm1::Button14Click() {}
void TForm1::ComboBox10Change() {}
void TForm1::Button15Click() {}
void TForm1::RadioGroup3Click() {}
void TForm1::RadioGroup3Exit() {}
void TForm1::Button24Click() {}
