#pragma once
// One wizard at a time. A second start (a double-click that came twice)
// brings the running wizard forward and ends; the first is left alone.

// True when no other wizard runs; the claim lasts as long as the process.
// False when one does: it has been brought to the front (once its window
// exists, waiting a few seconds for it).
bool ClaimSingleInstance();
