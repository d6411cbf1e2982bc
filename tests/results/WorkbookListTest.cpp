// Workbook start lists and the workbook export through the desk's dialogs.

#include "DeskFixture.h"
