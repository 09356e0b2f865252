// The window description and the window built from it.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <set>
#include <vector>
#include <string>

#include "app/installer_window.h"
#include "app/picture_box.h"
#include "pump.h"

namespace {

const ControlSpec& RowOf(int id) {
    const ControlSpec* row = FindControlSpec(id);
    EXPECT_NE(row, nullptr) << id;
    return *row;
}

bool Within(const ControlSpec& c, int width, int height) {
    return c.left >= 0 && c.top >= 0 && c.left + c.width <= width && c.top + c.height <= height;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string ExpectedClass(ControlKind kind) {
    switch (kind) {
    case ControlKind::GroupBox:
    case ControlKind::Button:
    case ControlKind::CheckBox: return "button";
    case ControlKind::Label:
    case ControlKind::TransLabel: return "static";
    case ControlKind::EditBox: return "edit";
    case ControlKind::Tab: return "systabcontrol32";
    case ControlKind::StatusBar: return "msctls_statusbar32";
    case ControlKind::PicBox: return "vantelpicbox";
    }
    return {};
}

std::string ClassOf(HWND hwnd) {
    char name[128] = {};
    GetClassNameA(hwnd, name, sizeof(name));
    return Lower(name);
}

RECT RectInParent(HWND control) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

Text WindowText(HWND hwnd) {
    char buffer[256] = {};
    GetWindowTextA(hwnd, buffer, sizeof(buffer));
    return buffer;
}

class BuiltWindow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(window.Load({.raiseCreatedEvent = false, .quitOnDestroy = false})); }
    void TearDown() override { window.Destroy(); }
    InstallerWindow window;
};

}  // namespace

TEST(WindowLayout, TableIsConsistent) {
    std::set<int> ids;
    std::set<std::string> names;
    int disabled = 0;
    const ControlSpec& banner = RowOf(ctl::分组框1);
    const ControlSpec& tab = RowOf(ctl::选择夹1);
    for (const ControlSpec& c : InstallerControls()) {
        EXPECT_TRUE(ids.insert(c.id).second) << c.id;
        EXPECT_TRUE(names.insert(c.name).second) << c.id;
        if (c.flags & kDisabled) ++disabled;
        if (c.container == Container::Banner) { EXPECT_TRUE(Within(c, banner.width, banner.height)) << c.id; }
        if (c.container >= Container::Page0) { EXPECT_TRUE(Within(c, tab.width, tab.height)) << c.id; }
        EXPECT_EQ(c.kind == ControlKind::PicBox, c.asset != Asset::None && c.asset != Asset::Agreement) << c.id;
        EXPECT_EQ(c.onClick != nullptr, c.kind == ControlKind::Button) << c.id;
    }
    EXPECT_EQ(ids.size(), 21u);
    EXPECT_EQ(disabled, 1);
    EXPECT_TRUE(RowOf(ctl::按钮同意条款).flags & kDisabled);

    // The three forward buttons sit at the same place on their pages.
    for (int id : {ctl::按钮开始安装, ctl::按钮完成安装}) {
        EXPECT_EQ(RowOf(id).left, RowOf(ctl::按钮同意条款).left);
        EXPECT_EQ(RowOf(id).width, RowOf(ctl::按钮同意条款).width);
        EXPECT_EQ(RowOf(id).height, RowOf(ctl::按钮同意条款).height);
        EXPECT_LE(std::abs(RowOf(id).top - RowOf(ctl::按钮同意条款).top), 2);
    }
    EXPECT_EQ(RowOf(ctl::按钮同意条款).container, Container::Page0);
    EXPECT_EQ(RowOf(ctl::按钮开始安装).container, Container::Page1);
    EXPECT_EQ(RowOf(ctl::按钮完成安装).container, Container::Page3);
    for (const ControlSpec& c : InstallerControls()) EXPECT_FALSE(c.kind == ControlKind::Button && c.container == Container::Page2);

    // The version label is drawn on the tab area and above it.
    EXPECT_GT(RowOf(ctl::标签版本号).top, tab.top);
    EXPECT_GT(&RowOf(ctl::标签版本号), &tab);
}

TEST_F(BuiltWindow, EveryControlMatchesItsRow) {
    for (const ControlSpec& c : InstallerControls()) {
        SCOPED_TRACE(c.id);
        HWND control = window.Control(c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(GetDlgCtrlID(control), c.id);
        EXPECT_EQ(ClassOf(control), ExpectedClass(c.kind));
        EXPECT_EQ(GetParent(control), window.ContainerHandle(c.container));
        RECT r = RectInParent(control);
        EXPECT_EQ(r.left, c.left);
        EXPECT_EQ(r.top, c.top);
        EXPECT_EQ(r.right - r.left, c.width);
        EXPECT_EQ(r.bottom - r.top, c.height);
        EXPECT_TRUE(IsWindowVisible(control) || c.container >= Container::Page1);
        EXPECT_EQ(IsWindowEnabled(control) != 0, !(c.flags & kDisabled));
        if (c.text && c.kind != ControlKind::Tab) { EXPECT_EQ(window.Caption(c.id), Text(c.text)); }
        if (c.kind == ControlKind::CheckBox) { EXPECT_TRUE(window.IsChecked(c.id)); }
    }
}

TEST_F(BuiltWindow, WindowFrameSizeAndPosition) {
    HWND hwnd = window.NativeHandle();
    RECT r;
    GetWindowRect(hwnd, &r);
    EXPECT_EQ(r.right - r.left, 697);
    EXPECT_EQ(r.bottom - r.top, 514);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 697) / 2);
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - 514) / 2);
    EXPECT_EQ(WindowText(hwnd), Text("Vantel防关联 安装向导"));
    LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_EQ(GetParent(hwnd), nullptr);
}

TEST_F(BuiltWindow, TabPagesStatusBarAndFonts) {
    HWND tab = window.Control(ctl::选择夹1);
    ASSERT_EQ(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0), 4);
    const char* captions[] = {"阅读协议", "选择安装目录", "开始安装", "安装完成"};
    for (int i = 0; i < 4; ++i) {
        char text[64] = {};
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof(text);
        SendMessageA(tab, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(Text(text), Text(captions[i]));
        HWND page = window.ContainerHandle(static_cast<Container>(static_cast<int>(Container::Page0) + i));
        EXPECT_EQ(GetParent(page), tab);
        EXPECT_EQ(IsWindowVisible(page) != 0, i == 0);
    }
    EXPECT_EQ(window.CurrentPage(), 0);

    int edges[2] = {};
    EXPECT_EQ(SendMessageA(window.Control(ctl::状态条1), SB_GETPARTS, 2, reinterpret_cast<LPARAM>(edges)), 2);
    EXPECT_EQ(edges[0], 200);
    EXPECT_EQ(edges[1], 800);
    EXPECT_EQ(window.StatusPart(0), Text("服务条款"));
    EXPECT_EQ(window.StatusPart(1), Text("请认真阅读服务条款，并同意"));

    for (const ControlSpec& c : InstallerControls()) {
        if (c.kind == ControlKind::PicBox) continue;
        LOGFONTA font{};
        HFONT handle = reinterpret_cast<HFONT>(SendMessageA(window.Control(c.id), WM_GETFONT, 0, 0));
        ASSERT_TRUE(handle && GetObjectA(handle, sizeof(font), &font)) << c.id;
        bool large = c.id == ctl::透明标签3 || c.id == ctl::透明标签4;
        EXPECT_EQ(font.lfHeight, large ? -21 : -12) << c.id;
        EXPECT_EQ(font.lfWeight, 400) << c.id;
        EXPECT_EQ(font.lfCharSet, GB2312_CHARSET) << c.id;
    }
}

TEST_F(BuiltWindow, AgreementIsReadOnlyGbkText) {
    HWND edit = window.Control(ctl::编辑框1);
    LONG style = GetWindowLongA(edit, GWL_STYLE);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_TRUE(style & WS_VSCROLL);
    EXPECT_FALSE(GetWindowLongA(window.Control(ctl::编辑框安装路径), GWL_STYLE) & (ES_READONLY | ES_MULTILINE));

    Text text = window.EditContent(ctl::编辑框1);
    EXPECT_GT(text.size(), 9500u);
    EXPECT_LT(text.size(), 10300u);
    EXPECT_EQ(text.substr(0, 8), Text(8, ' '));
    std::size_t at = 0;
    for (const char* section : {"账户条款", "禁止行为", "费用条款", "退款政策", "条款和终止", "知识产权", "保密和反馈",
                                "免责声明", "隐私政策", "个人信息收集", "自愿收集的个人信息", "自动收集的个人信息",
                                "网站cookie收集", "收集信息的使用", "个人信息披露", "未成年人保护", "隐私政策的变更"}) {
        std::size_t found = text.find(section, at);
        EXPECT_NE(found, Text::npos) << "section out of order";
        if (found != Text::npos) at = found;
    }
    EXPECT_NE(text.rfind("修订日期"), Text::npos);
    EXPECT_GT(text.rfind("修订日期"), text.size() - 40);
    // Lines end with CR LF so the edit box breaks them.
    EXPECT_NE(text.find("\r\n"), Text::npos);
    EXPECT_EQ(text.find("\n\n"), Text::npos);

    // Typing into a read-only box changes nothing.
    SendMessageA(edit, WM_CHAR, 'x', 0);
    EXPECT_EQ(window.EditContent(ctl::编辑框1), text);
}

TEST_F(BuiltWindow, PicturesDecodeAndAnimate) {
    struct Expected {
        int id, width, height, frames;
    };
    for (Expected e : {Expected{ctl::图片框1, 64, 64, 1}, Expected{ctl::图片框3, 64, 64, 1},
                       Expected{ctl::图片框4, 157, 157, 16}, Expected{ctl::图片框2, 400, 300, 120}}) {
        HWND picture = window.Control(e.id);
        LRESULT size = SendMessageA(picture, kPicGetImageSize, 0, 0);
        EXPECT_EQ(LOWORD(size), e.width) << e.id;
        EXPECT_EQ(HIWORD(size), e.height) << e.id;
        EXPECT_EQ(SendMessageA(picture, kPicGetFrameCount, 0, 0), e.frames) << e.id;
    }
    // Both animations move on while the thread pumps, even on hidden pages.
    HWND folder = window.Control(ctl::图片框4);
    HWND installing = window.Control(ctl::图片框2);
    EXPECT_TRUE(PumpUntil([&] {
        return SendMessageA(folder, kPicGetCurrentFrame, 0, 0) >= 2 &&
               SendMessageA(installing, kPicGetCurrentFrame, 0, 0) >= 2;
    }, 10000));
    EXPECT_EQ(SendMessageA(window.Control(ctl::图片框1), kPicGetCurrentFrame, 0, 0), 0);
}

TEST_F(BuiltWindow, TabHeadersDoNotSwitchPages) {
    HWND tab = window.Control(ctl::选择夹1);
    SetFocus(tab);
    SendMessageA(tab, WM_KEYDOWN, VK_RIGHT, 0);
    RECT header{};
    SendMessageA(tab, TCM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&header));
    SendMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(header.left + 4, header.top + 4));
    SendMessageA(tab, WM_LBUTTONUP, 0, MAKELPARAM(header.left + 4, header.top + 4));
    PumpPendingMessages();
    EXPECT_EQ(window.CurrentPage(), 0);
    EXPECT_TRUE(IsWindowVisible(window.ContainerHandle(Container::Page0)));

    window.SetPage(3);
    EXPECT_EQ(window.CurrentPage(), 3);
    EXPECT_TRUE(IsWindowVisible(window.ContainerHandle(Container::Page3)));
    EXPECT_FALSE(IsWindowVisible(window.ContainerHandle(Container::Page0)));
    window.SetPage(4);
    EXPECT_EQ(window.CurrentPage(), 3);
}

// What a move to a display of another scale does: the window takes the
// suggested rectangle and every row of the table is laid out again at that
// DPI, then back at 96 dpi exactly where the table says.
TEST_F(BuiltWindow, ADpiChangeLaysTheTableOutAgainAtThatScale) {
    HWND hwnd = window.NativeHandle();
    auto expectLayout = [&](int dpi) {
        SCOPED_TRACE(dpi);
        auto px = [dpi](int v) { return MulDiv(v, dpi, 96); };
        for (const ControlSpec& c : InstallerControls()) {
            RECT r = RectInParent(window.Control(c.id));
            EXPECT_EQ(r.left, px(c.left)) << c.id;
            EXPECT_EQ(r.top, px(c.top)) << c.id;
            EXPECT_EQ(r.right - r.left, px(c.width)) << c.id;
            EXPECT_EQ(r.bottom - r.top, px(c.height)) << c.id;
            if (c.kind == ControlKind::PicBox) continue;
            LOGFONTW font{};
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window.Control(c.id), WM_GETFONT, 0, 0)), sizeof(font),
                       &font);
            bool large = c.id == ctl::透明标签3 || c.id == ctl::透明标签4;
            EXPECT_EQ(font.lfHeight, px(large ? -21 : -12)) << c.id;
        }
        RECT page;
        GetClientRect(window.ContainerHandle(Container::Page1), &page);
        EXPECT_EQ(page.right, px(710));
        EXPECT_EQ(page.bottom, px(390));
        int edges[2] = {};
        SendMessageW(window.Control(ctl::状态条1), SB_GETPARTS, 2, reinterpret_cast<LPARAM>(edges));
        EXPECT_EQ(edges[0], px(200));
        EXPECT_EQ(edges[1], px(800));
    };
    auto pictureSizes = [&](int id) {
        HWND picture = window.Control(id);
        LRESULT from = SendMessageW(picture, kPicGetImageSize, 0, 0);
        LRESULT drawn = SendMessageW(picture, kPicGetDrawnSize, 0, 0);
        return std::vector<int>{LOWORD(from), HIWORD(from), LOWORD(drawn), HIWORD(drawn)};
    };

    // 125 %: the window still fits the test's 1024x768 screen.
    RECT suggested{40, 30, 40 + 871, 30 + 643};
    SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(120, 120), reinterpret_cast<LPARAM>(&suggested));
    RECT frame;
    GetWindowRect(hwnd, &frame);
    EXPECT_EQ(frame.left, 40);
    EXPECT_EQ(frame.top, 30);
    EXPECT_EQ(frame.right - frame.left, 871);
    EXPECT_EQ(frame.bottom - frame.top, 643);
    expectLayout(120);
    // Drawn from the pictures of twice the size, scaled down, never up.
    EXPECT_EQ(pictureSizes(ctl::图片框1), (std::vector<int>{128, 128, 80, 80}));
    EXPECT_EQ(pictureSizes(ctl::图片框4), (std::vector<int>{314, 314, 196, 196}));
    EXPECT_EQ(pictureSizes(ctl::图片框2), (std::vector<int>{800, 600, 410, 320}));

    RECT back{100, 100, 100 + 697, 100 + 514};
    SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&back));
    expectLayout(96);
    EXPECT_EQ(pictureSizes(ctl::图片框1), (std::vector<int>{64, 64, 64, 64}));
    EXPECT_EQ(pictureSizes(ctl::图片框4), (std::vector<int>{157, 157, 157, 157}));
    EXPECT_EQ(pictureSizes(ctl::图片框2), (std::vector<int>{400, 300, 328, 256}));
}
