// Export of the results table.

#include "FormMain.h"

void TFormMain::bSaveClick() {}
