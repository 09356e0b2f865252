#pragma once
// The wizard window's description: the window, its tab pages, the status
// bar parts and one row per control, named as the window description names
// them. InstallerWindow builds the Win32 controls from these tables.
#include <cstdint>
#include <span>

namespace ctl {
// Control identifiers (also the Win32 control ids the test driver uses).
enum Id : int {
    分组框1 = 1001,
    图片框1,
    标签1,
    透明标签1,
    选择夹1,
    编辑框1,
    按钮同意条款,
    图片框4,
    透明标签2,
    编辑框安装路径,
    按钮选择安装目录,
    按钮开始安装,
    图片框2,
    透明标签3,
    图片框3,
    透明标签4,
    选择框显示升级说明,
    选择框运行程序,
    按钮完成安装,
    标签版本号,
    状态条1,
};
}  // namespace ctl

enum class ControlKind { GroupBox, PicBox, Label, TransLabel, EditBox, Button, CheckBox, Tab, StatusBar };

// Where a control's position counts from: the window's client area, the
// banner group box, or one page of the tab control.
enum class Container { Window, Banner, Page0, Page1, Page2, Page3 };

enum class Asset { None, Agreement, Logo, FolderAnimation, InstallingAnimation };

enum ControlFlag : unsigned {
    kDisabled = 1u << 0,
    kChecked = 1u << 1,
    kLargeFont = 1u << 2,
    kMultiLine = 1u << 3,   // edit box: several lines with a vertical scroll bar
    kReadOnly = 1u << 4,
    kWordWrap = 1u << 5,
    kWhiteBackground = 1u << 6,
    kScaled = 1u << 7,      // picture: stretched to the box instead of drawn at the top left
};

using ClickHandler = void (*)();

struct ControlSpec {
    ctl::Id id;
    const char* name;  // the control's name in the window description
    ControlKind kind;
    Container container;
    int left, top, width, height;
    const char* text;        // caption or initial content; nullptr for none
    std::uint32_t textColour;  // COLORREF (0x00BBGGRR)
    unsigned flags;
    Asset asset;             // picture bytes, or the edit box content
    ClickHandler onClick;
};

struct WindowSpec {
    const char* caption;
    int width, height;  // outer size
};

struct StatusPartSpec {
    int width;
    const char* text;
};

constexpr std::uint32_t Rgb(int r, int g, int b) {
    return static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) |
           (static_cast<std::uint32_t>(b) << 16);
}

const WindowSpec& InstallerWindowSpec();
std::span<const ControlSpec> InstallerControls();
std::span<const char* const> TabPageCaptions();
std::span<const StatusPartSpec> StatusParts();
// The row of a control, or nullptr.
const ControlSpec* FindControlSpec(int id);
// The button that moves a page on (Enter presses it), or 0 for none.
int MainButtonOfPage(int page);

// Large-font parameters of the labels that carry kLargeFont.
constexpr int kLargeFontHeight = 21;
constexpr int kLargeFontWeight = 400;
