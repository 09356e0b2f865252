#include "app/window_layout.h"

#include "app/install_sequence.h"

namespace {

constexpr std::uint32_t kBlack = Rgb(0, 0, 0);
constexpr std::uint32_t kGreyText = Rgb(96, 96, 96);
constexpr std::uint32_t kGreenText = Rgb(128, 160, 128);

constexpr WindowSpec kWindow{"Vantel防关联 安装向导", 697, 514};

constexpr const char* kBanner =
    "Vantel防关联（VantelPA），基于Vantel浏览器（VantelBrowser，chromium内核）的辅助工具，\r\n\r\n"
    "拥有保持Cookie、自由更改指纹，切换代理IP，自动化操作等强大功能，欢迎使用。";

using enum ControlKind;
using enum Container;

// Creation order is table order; later rows lie above earlier ones.
const ControlSpec kControls[] = {
    {ctl::分组框1, "分组框1", GroupBox, Window, 1, -4, 690, 116, nullptr, kBlack, 0, Asset::None, nullptr},
    {ctl::图片框1, "图片框1", PicBox, Banner, 24, 29, 64, 64, nullptr, kBlack, 0, Asset::Logo, nullptr},
    {ctl::标签1, "标签1", Label, Banner, 119, 18, 544, 40, kBanner, kGreyText, kWordWrap, Asset::None, nullptr},
    {ctl::透明标签1, "透明标签1", TransLabel, Banner, 461, 87, 216, 18, "给您的每个账号都分配独立的浏览器环境",
     kGreenText, 0, Asset::None, nullptr},
    {ctl::选择夹1, "选择夹1", Tab, Window, 0, 105, 710, 390, nullptr, kBlack, kWhiteBackground, Asset::None, nullptr},
    {ctl::编辑框1, "编辑框1", EditBox, Page0, 4, 14, 683, 301, nullptr, kBlack,
     kMultiLine | kReadOnly | kWhiteBackground, Asset::Agreement, nullptr},
    {ctl::按钮同意条款, "按钮同意条款", Button, Page0, 560, 319, 126, 36, "同意条款(下一步)", kBlack, kDisabled,
     Asset::None, OnAgreeClicked},
    {ctl::图片框4, "图片框4", PicBox, Page1, 256, 36, 160, 152, nullptr, kBlack, 0, Asset::FolderAnimation, nullptr},
    {ctl::透明标签2, "透明标签2", TransLabel, Page1, 10, 243, 144, 24, "可自定义程序安装路径", kBlack, 0, Asset::None,
     nullptr},
    {ctl::编辑框安装路径, "编辑框安装路径", EditBox, Page1, 7, 276, 584, 28, "", kBlack, kWhiteBackground, Asset::None,
     nullptr},
    {ctl::按钮选择安装目录, "按钮选择安装目录", Button, Page1, 601, 275, 85, 28, "选择安装目录", kBlack, 0, Asset::None,
     OnChooseDirClicked},
    {ctl::按钮开始安装, "按钮开始安装", Button, Page1, 560, 317, 126, 36, "开始安装", kBlack, 0, Asset::None,
     OnStartInstallClicked},
    {ctl::图片框2, "图片框2", PicBox, Page2, 174, 12, 328, 256, nullptr, kBlack, kScaled, Asset::InstallingAnimation,
     nullptr},
    {ctl::透明标签3, "透明标签3", TransLabel, Page2, 194, 275, 304, 32, "安装中，请稍候...", kBlack, kLargeFont,
     Asset::None, nullptr},
    {ctl::图片框3, "图片框3", PicBox, Page3, 315, 59, 64, 64, nullptr, kBlack, kWhiteBackground, Asset::Logo, nullptr},
    {ctl::透明标签4, "透明标签4", TransLabel, Page3, 284, 140, 136, 32, "安装完成", kBlack, kLargeFont, Asset::None,
     nullptr},
    {ctl::选择框显示升级说明, "选择框显示升级说明", CheckBox, Page3, 363, 329, 96, 16, "显示升级说明", kBlack, kChecked,
     Asset::None, nullptr},
    {ctl::选择框运行程序, "选择框运行程序", CheckBox, Page3, 472, 329, 80, 16, "运行程序", kBlack, kChecked, Asset::None,
     nullptr},
    {ctl::按钮完成安装, "按钮完成安装", Button, Page3, 560, 317, 126, 36, "完成安装", kBlack, 0, Asset::None,
     OnFinishClicked},
    {ctl::标签版本号, "标签版本号", TransLabel, Window, 11, 443, 50, 16, "", kGreenText, 0, Asset::None, nullptr},
    {ctl::状态条1, "状态条1", StatusBar, Window, 0, 465, 691, 20, nullptr, kBlack, 0, Asset::None, nullptr},
};

const char* const kPages[] = {"阅读协议", "选择安装目录", "开始安装", "安装完成"};

const StatusPartSpec kStatusParts[] = {
    {200, "服务条款"},
    {600, "请认真阅读服务条款，并同意"},
};

// Page 2 moves on by itself when the install ends.
const int kMainButtons[] = {ctl::按钮同意条款, ctl::按钮开始安装, 0, ctl::按钮完成安装};

}  // namespace

const WindowSpec& InstallerWindowSpec() { return kWindow; }
std::span<const ControlSpec> InstallerControls() { return kControls; }
std::span<const char* const> TabPageCaptions() { return kPages; }
std::span<const StatusPartSpec> StatusParts() { return kStatusParts; }

const ControlSpec* FindControlSpec(int id) {
    for (const ControlSpec& row : kControls)
        if (row.id == id) return &row;
    return nullptr;
}

int MainButtonOfPage(int page) { return page >= 0 && page < 4 ? kMainButtons[page] : 0; }
