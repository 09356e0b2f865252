// The wizard with the keyboard alone: real key presses (SendInput) to the
// foreground window, as a user without a mouse gives them.
#include <gtest/gtest.h>

#include "app/window_layout.h"
#include "system/wide_text.h"
#include "tests/e2e/wizard_session.h"

namespace {

constexpr DWORD kKeyMs = 5000;

// Presses Tab (or Shift+Tab) and waits for the focus to land on a control.
HWND Tab(HWND window, bool back = false) {
    HWND before = FocusOf(window);
    PressKey(VK_TAB, back);
    HWND after = before;
    WaitFor([&] { return (after = FocusOf(window)) != before; }, kKeyMs);
    return after;
}

}  // namespace

TEST(Keyboard, TabEnterAndSpaceAloneCompleteAnInstall) {
    const Text chosen = kScratchRoot + "\\keyboard\\VantelPA";
    CleanState clean({kScratchRoot + "\\keyboard"});
    ASSERT_TRUE(clean.Made());

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    HWND window = wizard.Window();
    ASSERT_TRUE(BringToForeground(window));
    HWND agreement = wizard.Control(ctl::编辑框1);
    HWND agree = wizard.Control(ctl::按钮同意条款);
    EXPECT_TRUE(WaitFor([&] { return FocusOf(window) == agreement; }, kKeyMs));

    // While the agree button is locked, neither Tab nor Enter gets past it.
    for (int i = 0; i < 3 && !IsWindowEnabled(agree); ++i) {
        PressKey(VK_TAB);
        PressKey(VK_RETURN);
        Sleep(100);
        if (!IsWindowEnabled(agree)) {
            EXPECT_NE(FocusOf(window), agree);
            EXPECT_EQ(wizard.Page(), 0);
        }
    }
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(agree) != 0; }, kUnlockTimeoutMs));
    EXPECT_EQ(wizard.Page(), 0);

    // Unlocked, it is one Tab away from the agreement, and back again.
    EXPECT_EQ(FocusOf(window), agreement);
    EXPECT_EQ(Tab(window), agree);
    EXPECT_TRUE(FocusCueShown(agree));
    EXPECT_EQ(Tab(window, true), agreement);
    // Coming back does not move the reader to the end of the agreement.
    EXPECT_EQ(SendMessageW(agreement, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    EXPECT_EQ(Tab(window), agree);
    EXPECT_TRUE(wizard.Screenshot("keyboard-page0-focus.png"));
    PressKey(VK_RETURN);
    ASSERT_TRUE(wizard.WaitForPage(1, kKeyMs));
    wizard.ExpectPage(1, "选择目录", "选择程序要安装的路径");

    // Page 1 in reading order, round to the start again.
    HWND pathBox = wizard.Control(ctl::编辑框安装路径);
    HWND choose = wizard.Control(ctl::按钮选择安装目录);
    HWND start = wizard.Control(ctl::按钮开始安装);
    EXPECT_TRUE(WaitFor([&] { return FocusOf(window) == pathBox; }, kKeyMs));
    EXPECT_EQ(Tab(window), choose);
    EXPECT_TRUE(FocusCueShown(choose));
    EXPECT_EQ(Tab(window), start);
    EXPECT_EQ(Tab(window), pathBox);
    EXPECT_EQ(Tab(window, true), start);
    EXPECT_EQ(Tab(window), pathBox);

    // Tab selected the whole path, so typing replaces it; Enter starts the install.
    TypeText(Wide(chosen));
    EXPECT_TRUE(WaitFor([&] { return wizard.PathBox() == chosen; }, kKeyMs)) << wizard.PathBox();
    PressKey(VK_RETURN);
    ASSERT_TRUE(wizard.WaitForPage(2, kKeyMs));
    // The installing page has no button: Enter does nothing there.
    PressKey(VK_RETURN);
    ASSERT_TRUE(wizard.WaitForPage(3, kInstallTimeoutMs));
    wizard.ExpectPage(3, "完成", "程序已安装完成");
    ExpectPayloadInstalled(VersionFolder(chosen));

    // Space clears both boxes; Enter finishes without starting anything.
    HWND notes = wizard.Control(ctl::选择框显示升级说明);
    HWND run = wizard.Control(ctl::选择框运行程序);
    EXPECT_TRUE(WaitFor([&] { return FocusOf(window) == notes; }, kKeyMs));
    PressKey(VK_SPACE);
    EXPECT_TRUE(WaitFor([&] { return !IsChecked(notes); }, kKeyMs));
    EXPECT_EQ(Tab(window), run);
    PressKey(VK_SPACE);
    EXPECT_TRUE(WaitFor([&] { return !IsChecked(run); }, kKeyMs));
    EXPECT_EQ(Tab(window), wizard.Control(ctl::按钮完成安装));
    EXPECT_TRUE(wizard.Screenshot("keyboard-page3-focus.png"));
    PressKey(VK_RETURN);
    ASSERT_TRUE(wizard.Process().WaitForExit(20000));
    EXPECT_EQ(wizard.Process().ExitCode(), 0u);
    Sleep(1500);  // a launch would have shown by now
    EXPECT_TRUE(ProcessIdsNamed(kProductExe).empty());
}

TEST(Keyboard, AltF4ClosesTheWizardAsTheTitleBarButtonDoes) {
    CleanState clean({});
    ASSERT_TRUE(clean.Made());
    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    ASSERT_TRUE(BringToForeground(wizard.Window()));
    PressKey(VK_F4, false, true);
    ASSERT_TRUE(wizard.Process().WaitForExit(20000));
    EXPECT_EQ(wizard.Process().ExitCode(), 0u);
}
