#pragma once
// The embedded payload is judged whole once in the background from the
// moment the window is created, behind the agreement's wait (its stream
// inflates without fault, every record is complete, nothing trails), so
// the install need not do it before its first write.

// Starts the check; a second call does nothing.
void StartPayloadCheck();
// Whether the payload is sound; waits for the check when it is still
// running, and runs it here when it was never started.
bool PayloadCheckPassed();
