#include "process/message_pump.h"

// No window messages on POSIX.
void PumpPendingMessages() {}
