// PLACEHOLDER
#include "console/console.h"
bool Console::waitForJob(TransferJob*) { return false; }
bool Console::foregroundWait(TransferJob*) { return false; }
