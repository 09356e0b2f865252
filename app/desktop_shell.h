#pragma once
// The shell that shows the desktop, asked over COM to start a file. It
// runs as the desktop's user, so what it starts gets that user's own
// token even when the caller runs elevated.
#include <functional>

#include "app/shell_launch.h"

// How long a start waits for the desktop's shell: a hung one must not
// hold the finish click for good.
constexpr unsigned kDesktopAnswerMs = 10000;

// False when no desktop shell answered (nothing was started). The call runs
// on a thread of its own, in an apartment of its own.
bool StartOnDesktop(const DesktopStart& start);

// Runs `start` on a thread of its own and waits up to `limitMs` for its
// answer. One that has not answered by then counts as taken: the shell may
// still carry it out, so it is never started a second time another way.
bool TakenWithin(std::function<bool()> start, unsigned limitMs);
