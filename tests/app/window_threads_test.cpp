// Control writes from other threads, and the handlers' window side.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include <windows.h>
#include <commctrl.h>

#include "app/install_sequence.h"
#include "app/installer_window.h"
#include "app/program.h"
#include "app/resource_ids.h"
#include "pump.h"
#include "system/folders.h"

namespace {

class LoadedWindow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(window.Load({.raiseCreatedEvent = false, .quitOnDestroy = false})); }
    void TearDown() override { window.Destroy(); }
    InstallerWindow window;
};

// Notes both status texts at the moment the tab control changes page.
LRESULT CALLBACK RecordStatusOnPageChange(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR data) {
    if (message == TCM_SETCURSEL) {
        auto* seen = reinterpret_cast<TextList*>(data);
        for (int part = 0; part < 2; ++part) seen->push_back(Wizard().StatusPart(part));
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace

TEST_F(LoadedWindow, WorkerWritesLandOnTheWindowThreadWhileItPumps) {
    DWORD uiThread = GetCurrentThreadId();
    std::atomic<DWORD> ranOn{0};
    std::atomic<bool> done{false};
    Text seenByWorker;
    bool enabledSeenByWorker = false;
    std::thread worker([&] {
        window.RunOnWindowThread([&] { ranOn = GetCurrentThreadId(); });
        window.SetStatusPart(1, "等待程序安装完成");
        window.Enable(ctl::按钮同意条款, true);
        window.SetPage(2);
        // Each write has landed by the time the call returns.
        seenByWorker = window.StatusPart(1);
        enabledSeenByWorker = IsWindowEnabled(window.Control(ctl::按钮同意条款)) != 0;
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 20000));
    worker.join();
    EXPECT_EQ(ranOn.load(), uiThread);
    EXPECT_EQ(seenByWorker, Text("等待程序安装完成"));
    EXPECT_TRUE(enabledSeenByWorker);
    EXPECT_EQ(window.StatusPart(0), Text("服务条款"));
    EXPECT_EQ(window.CurrentPage(), 2);
    EXPECT_TRUE(IsWindowVisible(window.ContainerHandle(Container::Page2)));
}

TEST_F(LoadedWindow, ARunActionMessageFromOutsideRunsNothing) {
    // What another process could send: the address of something that looks
    // like an action, and garbage.
    std::atomic<bool> ran{false};
    const std::function<void()> action = [&] { ran = true; };
    std::atomic<bool> done{false};
    HWND hwnd = window.NativeHandle();
    std::thread sender([&] {
        SendMessageA(hwnd, WM_APP + 1, 0, reinterpret_cast<LPARAM>(&action));
        SendMessageA(hwnd, WM_APP + 1, 0x5A5A5A5A, static_cast<LPARAM>(0xDEADBEEF));
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 20000));
    sender.join();
    EXPECT_FALSE(ran.load());
    SendMessageA(hwnd, WM_APP + 1, 0, static_cast<LPARAM>(0xDEADBEEF));  // from the window's own thread

    // Writes from this process's threads still land.
    done = false;
    std::thread worker([&] {
        window.SetStatusPart(0, "正在安装");
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 20000));
    worker.join();
    EXPECT_EQ(window.StatusPart(0), Text("正在安装"));
}

TEST_F(LoadedWindow, WritesAfterTheWindowIsGoneAreDropped) {
    window.Destroy();
    EXPECT_EQ(window.NativeHandle(), nullptr);
    std::atomic<bool> ran{false};
    bool delivered = true;
    std::thread worker([&] {
        delivered = window.RunOnWindowThread([&] { ran = true; });
        window.SetStatusPart(0, "x");
        window.Enable(ctl::按钮同意条款, true);
    });
    worker.join();  // returns without the UI thread pumping
    EXPECT_FALSE(delivered);
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(window.CurrentPage(), -1);
    EXPECT_EQ(window.StatusPart(0), Text());
}

TEST(Handlers, AgreeClickMovesToTheDirectoryPage) {
    InstallerWindow& window = Wizard();
    ASSERT_TRUE(window.Load({.raiseCreatedEvent = false, .quitOnDestroy = false}));
    EXPECT_FALSE(window.IsEnabled(ctl::按钮同意条款));
    // A click on the locked button does nothing.
    SendMessageA(window.Control(ctl::按钮同意条款), BM_CLICK, 0, 0);
    PumpPendingMessages();
    EXPECT_EQ(window.CurrentPage(), 0);

    // Whoever sees the new page must see its status texts with it.
    TextList statusWhenPageChanged;
    SetWindowSubclass(window.Control(ctl::选择夹1), RecordStatusOnPageChange, 0,
                      reinterpret_cast<DWORD_PTR>(&statusWhenPageChanged));
    window.Enable(ctl::按钮同意条款, true);
    SendMessageA(window.Control(ctl::按钮同意条款), BM_CLICK, 0, 0);
    PumpPendingMessages();
    RemoveWindowSubclass(window.Control(ctl::选择夹1), RecordStatusOnPageChange, 0);
    EXPECT_EQ(statusWhenPageChanged, (TextList{"选择目录", "选择程序要安装的路径"}));
    EXPECT_EQ(window.CurrentPage(), 1);
    EXPECT_TRUE(IsWindowVisible(window.ContainerHandle(Container::Page1)));
    EXPECT_FALSE(IsWindowVisible(window.ContainerHandle(Container::Page0)));
    EXPECT_EQ(window.StatusPart(0), Text("选择目录"));
    EXPECT_EQ(window.StatusPart(1), Text("选择程序要安装的路径"));
    window.Destroy();
}

TEST_F(LoadedWindow, TitleBarAndTaskbarShowTheProductIcon) {
    HMODULE self = GetModuleHandleA(nullptr);
    for (auto [slot, metric] : {std::pair{GCLP_HICON, SM_CXICON}, std::pair{GCLP_HICONSM, SM_CXSMICON}}) {
        int size = GetSystemMetrics(metric);
        HANDLE product = LoadImageA(self, MAKEINTRESOURCEA(IDI_PRODUCT), IMAGE_ICON, size, size, LR_SHARED);
        ASSERT_NE(product, nullptr) << size << " px";
        EXPECT_EQ(reinterpret_cast<HANDLE>(GetClassLongPtrA(window.NativeHandle(), slot)), product) << size << " px";
    }
}

TEST(Handlers, WindowCreatedFillsVersionAndDefaultPath) {
    ProgramVersion = "2.2.06";
    InstallerWindow& window = Wizard();
    ASSERT_TRUE(window.Load({.raiseCreatedEvent = true, .quitOnDestroy = false}));
    EXPECT_EQ(window.Caption(ctl::标签版本号), Text("2.2.06"));
    Text programFiles = SpecialFolderPath(kCsidlProgramFiles);
    ASSERT_FALSE(programFiles.empty());
    EXPECT_EQ(window.EditContent(ctl::编辑框安装路径), programFiles + "\\VantelPA");
    // The unlock thread waits before enabling the button.
    EXPECT_FALSE(window.IsEnabled(ctl::按钮同意条款));
    window.SetEditContent(ctl::编辑框安装路径, "D:\\软件\\VantelPA");
    EXPECT_EQ(window.EditContent(ctl::编辑框安装路径), Text("D:\\软件\\VantelPA"));
    window.Destroy();
}
