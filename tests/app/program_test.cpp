// How the program ends when its window is closed while a worker runs.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <thread>

#include "app/installer_window.h"
#include "app/program.h"

namespace {

// Exit work that shows in the exit code.
void ExitWorkRan() { _exit(3); }

[[noreturn]] void CloseTheWizardWhileAWorkerRuns() {
    std::atexit(ExitWorkRan);
    std::thread([] {
        for (;;) Sleep(10);  // a worker that never ends
    }).detach();
    std::thread([] {
        HWND window;
        while (!(window = Wizard().NativeHandle())) Sleep(20);
        PostMessageA(window, WM_CLOSE, 0, 0);
    }).detach();
    std::exit(ProgramMain());
}

}  // namespace

TEST(ProgramDeathTest, ClosingTheWindowEndsTheProcessWithoutItsExitWork) {
    EXPECT_EXIT(CloseTheWizardWhileAWorkerRuns(), testing::ExitedWithCode(0), "");
}
