// Start-list import.

#include "FormMain.h"

void TFormMain::bOpenClick() {}
