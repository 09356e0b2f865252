#include "process_test_support.h"

#include "process/clock.h"

Text TestProgramDirectory() {
    char path[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path) - 1);
    Text text = path;
    return text.substr(0, text.find_last_of('\\'));
}

Text HelperPath() { return TestProgramDirectory() + "\\process_helper.exe"; }

StartedProcess::~StartedProcess() {
    if (!started) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info.hProcess, 9);
        WaitForSingleObject(info.hProcess, 5000);
    }
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
}

bool StartProgram(const Text& exe, const Text& mode, StartedProcess& process) {
    Text commandLine = "\"" + exe + "\" " + mode;
    // No console and no standard handles: nothing of the test's output
    // pipes reaches the helper.
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    process.started = CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                                     nullptr, nullptr, &startup, &process.info) != 0;
    return process.started;
}

namespace {

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_APP) {
        auto* window = reinterpret_cast<RecordingWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (window) window->received.emplace_back(message, NowMilliseconds());
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

RecordingWindow::RecordingWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VantelRecordingWindow";
    RegisterClassA(&wc);  // fails harmlessly once registered
    hwnd = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

RecordingWindow::~RecordingWindow() {
    if (hwnd) DestroyWindow(hwnd);
    // Leave no WM_QUIT or stray message to the next test.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}
