#pragma once
// The embedded payload's stream is inflated once in the background from
// the moment the window is created, behind the agreement's wait, so the
// install need not do it before its first write.

// Starts the check; a second call does nothing.
void StartPayloadCheck();
// Whether the stream unpacks; waits for the check when it is still
// running, and runs it here when it was never started.
bool PayloadCheckPassed();
