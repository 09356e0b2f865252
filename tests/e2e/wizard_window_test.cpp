// The installer as a user meets it: the agreement page, the unlock, the
// agree click and closing the window.
#include <gtest/gtest.h>

#include <string>

#include "app/window_layout.h"
#include "tests/e2e/wizard_session.h"

namespace {

void ExpectControls(HWND window) {
    HWND banner = FindControlById(window, ctl::分组框1);
    HWND tab = FindControlById(window, ctl::选择夹1);
    ASSERT_TRUE(banner && tab);
    for (const ExpectedControl& e : ExpectedControls()) {
        SCOPED_TRACE(e.id);
        HWND control = FindControlById(window, e.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(ClassName(control), e.className);
        HWND parent = GetParent(control);
        if (e.where == kWindow) { EXPECT_EQ(parent, window); }
        if (e.where == kBanner) { EXPECT_EQ(parent, banner); }
        if (e.where >= kPage0) { EXPECT_EQ(parent, PageWindow(tab, e.where)); }
        RECT r = RectInParent(control);
        EXPECT_EQ(r.left, e.left);
        EXPECT_EQ(r.top, e.top);
        EXPECT_EQ(r.right - r.left, e.width);
        EXPECT_EQ(r.bottom - r.top, e.height);
        if (e.text) { EXPECT_EQ(ControlText(control), Text(e.text)); }
        EXPECT_EQ(IsWindowEnabled(control) != 0, e.enabled);
    }
    for (int id : {ctl::选择框显示升级说明, ctl::选择框运行程序})
        EXPECT_EQ(SendMessageA(FindControlById(window, id), BM_GETCHECK, 0, 0), BST_CHECKED);
}

}  // namespace

TEST(WizardWindow, AgreementUnlocksAgreeMovesOnAndCloseEndsTheProgram) {
    CleanState clean({});
    ASSERT_TRUE(clean.Made());
    InstallerProcess installer;
    // Arguments are ignored.
    ASSERT_TRUE(installer.Start(INSTALLER_EXE, "/S --dir=C:\\nowhere"));
    HWND window = nullptr;
    ASSERT_TRUE(
        WaitFor([&] { return (window = FindTopWindow(installer.Id(), kWizardCaption)) != nullptr; }, kWindowTimeoutMs));
    HWND agree = FindControlById(window, ctl::按钮同意条款);
    ASSERT_NE(agree, nullptr);
    bool lockedAtFirst = !IsWindowEnabled(agree);

    RECT frame;
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.right - frame.left, 697);
    EXPECT_EQ(frame.bottom - frame.top, 514);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - 697) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - 514) / 2);
    EXPECT_EQ(GetParent(window), nullptr);

    EXPECT_TRUE(lockedAtFirst);
    if (lockedAtFirst) ExpectControls(window);
    ExpectPage(window, 0, "服务条款", "请认真阅读服务条款，并同意");
    Text agreement = ControlText(FindControlById(window, ctl::编辑框1));
    EXPECT_GT(agreement.size(), 9500u);
    EXPECT_EQ(agreement.rfind("                ", 0), 0u);
    EXPECT_EQ(ControlText(FindControlById(window, ctl::编辑框安装路径)), DefaultInstallDir());

    // Clicking while locked does nothing.
    SendMessageA(agree, BM_CLICK, 0, 0);
    EXPECT_EQ(TabSelection(FindControlById(window, ctl::选择夹1)), 0);

    DWORD waitStart = GetTickCount();
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(agree) != 0; }, 20000));
    EXPECT_LT(GetTickCount() - waitStart, 15000u);
    Sleep(300);  // let the animations and the button repaint
    EXPECT_TRUE(SaveScreenshot(window, SCREENSHOT_DIR, "wizard-page0-agreement.png"));
    // The banner texts are drawn in their colours: strokes of the glyphs
    // carry them exactly.
    EXPECT_GT(ScreenPixelsOfColour(FindControlById(window, ctl::标签1), RGB(96, 96, 96)), 20);
    EXPECT_GT(ScreenPixelsOfColour(FindControlById(window, ctl::透明标签1), RGB(128, 160, 128)), 20);

    SendMessageA(agree, BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return TabSelection(FindControlById(window, ctl::选择夹1)) == 1; }, 5000));
    ExpectPage(window, 1, "选择目录", "选择程序要安装的路径");
    Sleep(500);
    EXPECT_TRUE(SaveScreenshot(window, SCREENSHOT_DIR, "wizard-page1-directory.png"));

    PostMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(installer.WaitForExit(20000));
    EXPECT_EQ(installer.ExitCode(), 0u);
}
