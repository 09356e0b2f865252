#pragma once
// The shell that shows the desktop, asked over COM to start a file. It
// runs as the desktop's user, so what it starts gets that user's own
// token even when the caller runs elevated.
#include "app/shell_launch.h"

// False when no desktop shell answered (nothing was started); the calling
// thread's COM apartment is joined for the call and left after it.
bool StartOnDesktop(const DesktopStart& start);
