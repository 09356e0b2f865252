#pragma once
// The embedded payload is judged whole once in the background from the
// moment the window is created, behind the agreement's wait (its stream
// inflates without fault, every record is complete, nothing trails), so
// the install need not do it before its first write, and a damaged
// download is told at once instead of after the install.
#include <vector>

#include "payload/extraction.h"
#include "payload/free_space.h"

// Starts the check; a second call does nothing. `onDamaged` runs on the
// check's thread when the payload is found damaged.
void StartPayloadCheck(void (*onDamaged)());
// Whether the payload is sound; waits for the check when it is still
// running (dispatching this thread's messages meanwhile, so the check may
// reach the window), and runs it here when it was never started.
bool PayloadCheckPassed();
// The records' paths and sizes, once the check passed; empty when there
// were more than the check keeps.
const std::vector<RecordSize>& PayloadRecordSizes();
// The records' headers, once the check passed; null when there were more
// than the check keeps.
const CheckedHeaders* PayloadCheckedHeaders();
