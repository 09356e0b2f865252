// The wizard on the Windows its users have: an English system (code page
// 1252) and displays at 150 % and 200 %. Each e2e_variant_* test runs this
// in a Wine prefix of its own and names the variant and its scale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>

#include "app/window_layout.h"
#include "process/directory.h"
#include "system/folders.h"
#include "system/wide_text.h"
#include "tests/e2e/wizard_session.h"

namespace {

// The frame Windows puts round a client area of this style at this DPI.
SIZE FrameAt(HWND window, int dpi) {
    using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    auto adjust = reinterpret_cast<AdjustForDpiFn>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi"));
    RECT rect{0, 0, 0, 0};
    if (adjust) {
        adjust(&rect, GetWindowLongW(window, GWL_STYLE), FALSE, GetWindowLongW(window, GWL_EXSTYLE),
               static_cast<UINT>(dpi));
    }
    return {rect.right - rect.left, rect.bottom - rect.top};
}

RECT ScreenRect(HWND hwnd) {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    return rect;
}

bool Contains(const RECT& outer, const RECT& inner) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// The window is the 96-dpi table scaled: its outer size apart from the
// frame, every control's size, and every control inside the client area.
// The banner box and the tab control reach past the window's edges in the
// table itself (-4 and 710 wide), so only what they hold is checked.
void ExpectScaledLayout(HWND window, int dpi) {
    auto px = [dpi](int v) { return MulDiv(v, dpi, 96); };
    const RECT outer = ScreenRect(window);
    const SIZE frame96 = FrameAt(window, 96), frame = FrameAt(window, dpi);
    ASSERT_GT(frame.cy, 0);
    EXPECT_NEAR(outer.right - outer.left - frame.cx, px(697 - frame96.cx), 1);
    EXPECT_NEAR(outer.bottom - outer.top - frame.cy, px(514 - frame96.cy), 1);

    RECT client{};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    RECT tabArea = ScreenRect(FindControlById(window, ctl::选择夹1));
    IntersectRect(&tabArea, &tabArea, &client);
    for (const ExpectedControl& e : ExpectedControls()) {
        SCOPED_TRACE(e.id);
        HWND control = FindControlById(window, e.id);
        ASSERT_NE(control, nullptr);
        const RECT r = ScreenRect(control);
        EXPECT_NEAR(r.right - r.left, px(e.width), 1);
        EXPECT_NEAR(r.bottom - r.top, px(e.height), 1);
        if (e.id == ctl::分组框1 || e.id == ctl::选择夹1) continue;
        EXPECT_TRUE(Contains(client, r));
        if (e.where >= kPage0) { EXPECT_TRUE(Contains(tabArea, r)); }
    }
}

// Every caption on the window is the Chinese text of the table.
void ExpectChineseTexts(HWND window) {
    EXPECT_EQ(ControlText(window), kWizardCaption);
    EXPECT_EQ(ControlWideText(window), L"Vantel\u9632\u5173\u8054 \u5B89\u88C5\u5411\u5BFC");
    for (const ExpectedControl& e : ExpectedControls())
        if (e.text) { EXPECT_EQ(ControlText(FindControlById(window, e.id)), Text(e.text)) << e.id; }
}

TextList PayloadTopLevelNames() {
    std::set<Text> names;
    for (const PayloadFile& file : PayloadFiles()) names.insert(file.path.substr(0, file.path.find('\\')));
    return TextList(names.begin(), names.end());
}

}  // namespace

TEST(Variant, TextsScaleAndNamesHoldOnThisSystem) {
    const char* variant = std::getenv("VANTEL_E2E_VARIANT");
    if (!variant || !*variant) GTEST_SKIP() << "run by the e2e_variant_* tests";
    const char* dpiSetting = std::getenv("VANTEL_WINE_DPI");
    const int dpi = dpiSetting && *dpiSetting ? std::atoi(dpiSetting) : 96;
    const std::string shot = std::string(variant) + "-page";
    // A folder named in Chinese, typed in as a user of this system would.
    const Text root = kScratchRoot + "\\变体";
    const Text chosen = root + "\\安装位置\\VantelPA";
    const Text productDir = VersionFolder(chosen);
    CleanState clean({root});
    ASSERT_TRUE(clean.Made());
    ASSERT_TRUE(EnsureDirectoryPath(root));

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    HWND window = wizard.Window();
    // A first run proposes the system's program folder; for this 32-bit
    // program on 64-bit Windows that is "Program Files (x86)".
    EXPECT_EQ(wizard.PathBox(), DefaultInstallDir());
    BOOL wow64 = FALSE;
    if (IsWow64Process(wizard.Process().Handle(), &wow64) && wow64) {
        EXPECT_NE(wizard.PathBox().find("\\Program Files (x86)\\VantelPA"), Text::npos) << wizard.PathBox();
    }
    ExpectScaledLayout(window, dpi);
    ExpectChineseTexts(window);
    wizard.ExpectPage(0, "服务条款", "请认真阅读服务条款，并同意");
    HWND agree = wizard.Control(ctl::按钮同意条款);
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(agree) != 0; }, kUnlockTimeoutMs));
    EXPECT_TRUE(wizard.Screenshot(shot + "0-agreement.png"));
    ASSERT_TRUE(wizard.Agree());
    wizard.ExpectPage(1, "选择目录", "选择程序要安装的路径");

    // A character code page 936 cannot carry makes the path unusable:
    // nothing is created and the wizard stays on page 1.
    HWND pathBox = wizard.Control(ctl::编辑框安装路径);
    ASSERT_TRUE(SetControlWideText(pathBox, Wide(root) + L"\\\uD55C\\VantelPA"));
    Click(wizard.Control(ctl::按钮开始安装));
    Sleep(500);
    wizard.ExpectPage(1, "选择目录", "选择程序要安装的路径");
    EXPECT_TRUE(FolderNames(root).empty());
    EXPECT_TRUE(wizard.Screenshot(shot + "1-directory.png"));

    ASSERT_TRUE(wizard.StartInstall(chosen));
    wizard.ExpectPage(2, "正在安装", "等待程序安装完成");
    EXPECT_TRUE(wizard.Screenshot(shot + "2-installing.png"));
    ASSERT_TRUE(wizard.WaitForPage(3, kInstallTimeoutMs));
    wizard.ExpectPage(3, "完成", "程序已安装完成");
    EXPECT_EQ(ControlText(wizard.Control(ctl::透明标签4)), Text("安装完成"));
    EXPECT_TRUE(wizard.Screenshot(shot + "3-finished.png"));

    // Every file under its real name, nothing else beside them.
    ExpectPayloadInstalled(productDir);
    EXPECT_EQ(FolderNames(productDir), PayloadTopLevelNames());
    EXPECT_TRUE(Exists(productDir + "\\" + kNotesFile));
    const TextList desktop = FolderNames(SpecialFolderPath(kCsidlDesktop));
    EXPECT_NE(std::find(desktop.begin(), desktop.end(), Text("Vantel防关联.lnk")), desktop.end());
    ExpectRegisteredAndLinked(chosen, productDir);
    EXPECT_TRUE(wizard.Close());
}
