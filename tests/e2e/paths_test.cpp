// The install directory as the user gives it: typed with forward slashes,
// a drive root, one that cannot be created, and chosen in the folder dialog.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include "app/window_layout.h"
#include "payload/file_ops.h"
#include "process/directory.h"
#include "system/wide_text.h"
#include "tests/e2e/wizard_session.h"

namespace {

// Paths compared as the file system sees them.
Text Canonical(const Text& path) {
    Text out;
    for (char c : LowerAscii(ForwardToBackslashes(path)))
        if (!(c == '\\' && !out.empty() && out.back() == '\\')) out += c;
    return out;
}

void ExpectStillOnTheDirectoryPage(const WizardSession& wizard) {
    Sleep(500);
    wizard.ExpectPage(1, "选择目录", "选择程序要安装的路径");
}

}  // namespace

TEST(Paths, UnusablePathsKeepPageOneAndForwardSlashesInstall) {
    const Text root = kScratchRoot + "\\paths";
    CleanState clean({root});
    ASSERT_TRUE(clean.Made());
    ASSERT_TRUE(EnsureDirectoryPath(root));
    ASSERT_TRUE(WriteFileBytes(root + "\\blocker", "a file where a folder would go"));

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    ASSERT_TRUE(wizard.Agree());
    HWND pathBox = wizard.Control(ctl::编辑框安装路径);
    HWND start = wizard.Control(ctl::按钮开始安装);

    ASSERT_TRUE(SetControlText(pathBox, ""));
    Click(start);
    ExpectStillOnTheDirectoryPage(wizard);

    // A character code page 936 cannot carry makes the path unusable: nothing is made.
    ASSERT_TRUE(SetControlWideText(pathBox, Wide(root) + L"\\\uD55C\\VantelPA"));
    Click(start);
    ExpectStillOnTheDirectoryPage(wizard);
    EXPECT_EQ(FolderNames(root), TextList{"blocker"});

    const Text blocked = root + "\\blocker\\VantelPA";
    ASSERT_TRUE(SetControlText(pathBox, blocked));
    Click(start);
    ExpectStillOnTheDirectoryPage(wizard);
    EXPECT_EQ(wizard.PathBox(), blocked);
    EXPECT_FALSE(pathExists(blocked));

    const Text typed = "C:/vantel-e2e/paths/slashes/VantelPA";
    const Text productDir = root + "\\slashes\\VantelPA\\vantelpa-" + kVersion;
    ASSERT_TRUE(wizard.StartInstall(typed));
    ASSERT_TRUE(wizard.WaitForPage(3, kInstallTimeoutMs));
    wizard.ExpectPage(3, "完成", "程序已安装完成");
    EXPECT_EQ(wizard.PathBox(), typed);
    ExpectPayloadInstalled(productDir);
    EXPECT_EQ(ReadUserRegistryText(kRegistryKey, kRegistryValue), typed);
    ShortcutInfo link = ReadShortcut(DesktopLinkPath());
    EXPECT_TRUE(link.loaded);
    // The shell link resolves its target; the icon path is kept as given.
    EXPECT_EQ(Canonical(link.target), Canonical(productDir + "\\" + kProductExe));
    EXPECT_EQ(link.iconPath, typed + "\\vantelpa-" + kVersion + "\\resource\\zh_logo_64.ico");

    // The finish click starts the product from the typed path as it is.
    SetChecked(wizard.Control(ctl::选择框显示升级说明), false);
    PostClick(wizard.Control(ctl::按钮完成安装));
    ASSERT_TRUE(wizard.Process().WaitForExit(20000));
    std::vector<DWORD> product;
    EXPECT_TRUE(WaitFor([&] { return !(product = ProcessIdsNamed(kProductExe)).empty(); }, 10000));
    ASSERT_EQ(product.size(), 1u);
    EXPECT_EQ(Canonical(ProcessImagePath(product[0])), Canonical(productDir + "\\" + kProductExe));
    EndProcesses(product);
}

TEST(Paths, ADriveRootInstallsStraightIntoThatRoot) {
    const Text root = kScratchRoot + "\\drive-root";
    CleanState clean({root});
    ASSERT_TRUE(clean.Made());
    ASSERT_TRUE(EnsureDirectoryPath(root));
    MappedDrive drive(root);
    ASSERT_FALSE(drive.Drive().empty());
    const Text driveRoot = drive.Drive() + "\\";
    ASSERT_TRUE(isDirectory(driveRoot));

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    ASSERT_TRUE(wizard.InstallTo(driveRoot));
    wizard.ExpectPage(3, "完成", "程序已安装完成");
    ExpectPayloadInstalled(root);
    EXPECT_FALSE(pathExists(root + "\\vantelpa-" + kVersion));
    EXPECT_EQ(ReadUserRegistryText(kRegistryKey, kRegistryValue), driveRoot);
    ShortcutInfo link = ReadShortcut(DesktopLinkPath());
    EXPECT_TRUE(link.loaded);
    EXPECT_EQ(Canonical(link.target), Canonical(driveRoot + kProductExe));
    EXPECT_TRUE(wizard.Close());
}

TEST(FolderDialog, ChoosingAddsTheProductWordAndCancellingRestoresTheDefault) {
    const Text root = kScratchRoot + "\\dialog";
    const Text picked = root + "\\picked";
    CleanState clean({root});
    ASSERT_TRUE(clean.Made());
    ASSERT_TRUE(EnsureDirectoryPath(picked));

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    ASSERT_TRUE(wizard.Agree());
    SetControlText(wizard.Control(ctl::编辑框安装路径), "C:\\elsewhere\\VantelPA");
    HWND dialog = wizard.OpenFolderDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_NE(FindControlByText(dialog, "static", "选择要安装的位置"), nullptr);
    // The folder is chosen in the dialog's tree: Wine's dialog ignores a
    // path typed into its edit box and does not find a path handed in by
    // BFFM_SETSELECTION.
    EXPECT_NE(FindDescendantOfClass(dialog, "edit"), nullptr);
    HWND tree = FindDescendantOfClass(dialog, "systreeview32");
    ASSERT_NE(tree, nullptr);
    ASSERT_TRUE(SelectTreeItemPath(tree, {"(C:)", "vantel-e2e", "dialog", "picked"}));
    PostClick(GetDlgItem(dialog, IDOK));
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }, 10000));
    EXPECT_TRUE(WaitFor([&] { return wizard.PathBox() == picked + "\\VantelPA"; }, 5000)) << wizard.PathBox();
    wizard.ExpectPage(1, "选择目录", "选择程序要安装的路径");

    dialog = wizard.OpenFolderDialog();
    ASSERT_NE(dialog, nullptr);
    PostClick(GetDlgItem(dialog, IDCANCEL));
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }, 10000));
    EXPECT_TRUE(WaitFor([&] { return wizard.PathBox() == DefaultInstallDir(); }, 5000)) << wizard.PathBox();
    wizard.ExpectPage(1, "选择目录", "选择程序要安装的路径");
    EXPECT_TRUE(wizard.Close());
}
