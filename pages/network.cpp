// The pages "Управление параметрами сети" (TabSheet9) and "Чтение ID_DEV и состояние модема" (TabSheet10).
#include "app/Mainform.h"

void TForm1::SetUpNetworkPages() {}
void TForm1::Button26Click() {}
void TForm1::Button27Click() {}
void TForm1::Button37Click() {}
void TForm1::Button28Click() {}
void TForm1::Button29Click() {}
