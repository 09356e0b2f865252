// The installer as a user meets it: the agreement page, the unlock, the
// agree click and closing the window.
#include <gtest/gtest.h>

#include <string>

#include "app/window_layout.h"
#include "tests/e2e/wizard_session.h"

namespace {

enum Where { kWindow = -2, kBanner = -1, kPage0 = 0, kPage1, kPage2, kPage3 };

struct Expected {
    int id;
    const char* className;
    Where where;
    int left, top, width, height;
    const char* text;  // nullptr: not compared here
    bool enabled;
};

// What the user must see, written down independently of the app's table.
const Expected kControls[] = {
    {ctl::分组框1, "button", kWindow, 1, -4, 690, 116, "", true},
    {ctl::图片框1, "vantelpicbox", kBanner, 24, 29, 64, 64, nullptr, true},
    {ctl::标签1, "static", kBanner, 119, 18, 544, 40,
     "Vantel防关联（VantelPA），基于Vantel浏览器（VantelBrowser，chromium内核）的辅助工具，\r\n\r\n"
     "拥有保持Cookie、自由更改指纹，切换代理IP，自动化操作等强大功能，欢迎使用。",
     true},
    {ctl::透明标签1, "static", kBanner, 461, 87, 216, 18, "给您的每个账号都分配独立的浏览器环境", true},
    {ctl::选择夹1, "systabcontrol32", kWindow, 0, 105, 710, 390, nullptr, true},
    {ctl::编辑框1, "edit", kPage0, 4, 14, 683, 301, nullptr, true},
    {ctl::按钮同意条款, "button", kPage0, 560, 319, 126, 36, "同意条款(下一步)", false},
    {ctl::图片框4, "vantelpicbox", kPage1, 256, 36, 160, 152, nullptr, true},
    {ctl::透明标签2, "static", kPage1, 10, 243, 144, 24, "可自定义程序安装路径", true},
    {ctl::编辑框安装路径, "edit", kPage1, 7, 276, 584, 28, nullptr, true},
    {ctl::按钮选择安装目录, "button", kPage1, 601, 275, 85, 28, "选择安装目录", true},
    {ctl::按钮开始安装, "button", kPage1, 560, 317, 126, 36, "开始安装", true},
    {ctl::图片框2, "vantelpicbox", kPage2, 174, 12, 328, 256, nullptr, true},
    {ctl::透明标签3, "static", kPage2, 194, 275, 304, 32, "安装中，请稍候...", true},
    {ctl::图片框3, "vantelpicbox", kPage3, 315, 59, 64, 64, nullptr, true},
    {ctl::透明标签4, "static", kPage3, 284, 140, 136, 32, "安装完成", true},
    {ctl::选择框显示升级说明, "button", kPage3, 363, 329, 96, 16, "显示升级说明", true},
    {ctl::选择框运行程序, "button", kPage3, 472, 329, 80, 16, "运行程序", true},
    {ctl::按钮完成安装, "button", kPage3, 560, 317, 126, 36, "完成安装", true},
    {ctl::标签版本号, "static", kWindow, 11, 443, 50, 16, "2.2.06", true},
    {ctl::状态条1, "msctls_statusbar32", kWindow, 0, 465, 691, 20, nullptr, true},
};

void ExpectControls(HWND window) {
    HWND banner = FindControlById(window, ctl::分组框1);
    HWND tab = FindControlById(window, ctl::选择夹1);
    ASSERT_TRUE(banner && tab);
    for (const Expected& e : kControls) {
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
