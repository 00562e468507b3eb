// The page "Денежный ящик, внос-вынос, обнуление артикулов" (TabSheet3).
#include "app/Mainform.h"

void TForm1::SetUpDrawerPage() {}
void TForm1::Button10Click() {}
void TForm1::Button20Click() {}
void TForm1::Button21Click() {}
