#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "process/clock.h"
#include "process/delay.h"
#include "process/message_pump.h"
#include "process_test_support.h"

namespace {

bool QuitIsQueued(WPARAM& code) {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
    code = msg.wParam;
    return true;
}

long long ThreadCpuMilliseconds() {
    FILETIME created, ended, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
    auto ticks = [](FILETIME t) { return static_cast<long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000;
}

}  // namespace

TEST(DelayTest, DispatchesMessagesWhileItWaits) {
    RecordingWindow window;
    ASSERT_NE(window.hwnd, nullptr);
    PostMessageA(window.hwnd, WM_APP, 0, 0);
    HWND target = window.hwnd;
    std::thread poster([target] {
        Sleep(150);
        PostMessageA(target, WM_APP + 1, 0, 0);
    });
    long long start = NowMilliseconds();
    Delay(700);
    long long end = NowMilliseconds();
    poster.join();
    EXPECT_GE(end - start, 600);
    ASSERT_EQ(window.received.size(), 2u);
    EXPECT_EQ(window.received[0].first, static_cast<UINT>(WM_APP));
    EXPECT_EQ(window.received[1].first, static_cast<UINT>(WM_APP + 1));
    // Dispatched during the wait, well before it ended.
    EXPECT_LT(window.received[1].second, end - 150);
}

TEST(DelayTest, LeavesQuitQueued) {
    RecordingWindow window;
    PostQuitMessage(7);
    PostMessageA(window.hwnd, WM_APP + 2, 0, 0);
    Delay(100);
    ASSERT_EQ(window.received.size(), 1u);  // the later message still ran
    WPARAM code = 0;
    EXPECT_TRUE(QuitIsQueued(code));
    EXPECT_EQ(code, 7u);
}

TEST(DelayTest, SleepsWithAQuitPending) {
    PostQuitMessage(4);
    long long before = ThreadCpuMilliseconds();
    Delay(500);
    // Each pump puts the quit back; a wait that took that for news would spin.
    EXPECT_LT(ThreadCpuMilliseconds() - before, 100);
    WPARAM code = 0;
    EXPECT_TRUE(QuitIsQueued(code));
}

TEST(DelayTest, ZeroOrNegativeReturnsAtOnce) {
    long long start = NowMilliseconds();
    Delay(0);
    Delay(-5000);
    Delay(-1);
    DelayByClock(0);
    DelayByClock(-5000);
    EXPECT_LT(NowMilliseconds() - start, 1000);
}

TEST(DelayTest, ClockFallbackWaitsAndDispatches) {
    RecordingWindow window;
    PostMessageA(window.hwnd, WM_APP + 3, 0, 0);
    long long start = NowMilliseconds();
    DelayByClock(300);
    EXPECT_GE(NowMilliseconds() - start, 250);
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_LT(window.received[0].second - start, 200);
}

TEST(MessagePumpTest, DispatchesPendingAndKeepsQuit) {
    RecordingWindow window;
    PostMessageA(window.hwnd, WM_APP, 0, 0);
    PostMessageA(window.hwnd, WM_APP + 1, 0, 0);
    PostQuitMessage(3);
    PumpPendingMessages();
    EXPECT_EQ(window.received.size(), 2u);
    WPARAM code = 0;
    EXPECT_TRUE(QuitIsQueued(code));
    EXPECT_EQ(code, 3u);
    PumpPendingMessages();  // nothing left: returns at once
    EXPECT_EQ(window.received.size(), 2u);
}

// A quit posted while the pump takes its first message, a timer message:
// posted messages come before timer messages, so the quit is the next one
// the queue hands out. It must still be there for the message loop.
namespace {

UINT_PTR quitTimer = 0;

LRESULT CALLBACK PostQuitOnTimer(int code, WPARAM removal, LPARAM message) {
    if (quitTimer && reinterpret_cast<const MSG*>(message)->message == WM_TIMER) {
        KillTimer(nullptr, quitTimer);
        quitTimer = 0;
        PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 9, 0);
    }
    return CallNextHookEx(nullptr, code, removal, message);
}

}  // namespace

TEST(MessagePumpTest, KeepsAQuitThatArrivesWhileItTakesAMessage) {
    quitTimer = SetTimer(nullptr, 0, 10, nullptr);
    ASSERT_NE(quitTimer, 0u);
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, PostQuitOnTimer, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    Sleep(100);  // the timer is due
    PumpPendingMessages();
    UnhookWindowsHookEx(hook);
    if (quitTimer) KillTimer(nullptr, quitTimer);
    EXPECT_EQ(quitTimer, 0u);  // the hook saw the timer message
    WPARAM code = 0;
    EXPECT_TRUE(QuitIsQueued(code));
    EXPECT_EQ(code, 9u);
}
