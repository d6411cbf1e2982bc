// The settings command of the main window.

#include "FormMain.h"

void TFormMain::cmd_EinstellungenClick() {}
