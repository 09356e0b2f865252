#include "app/install_sequence.h"

#include "app/background.h"
#include "app/installer_window.h"
#include "app/program.h"
#include "system/folders.h"

namespace {
// The proposed install directory when nothing is remembered.
Text DefaultInstallDir() {
    Text programFiles = SpecialFolderPath(kCsidlProgramFiles);
    return programFiles + "\\VantelPA";
}
}  // namespace

void OnWindowCreated() {
    InstallerWindow& window = Wizard();
    window.SetCaption(ctl::标签版本号, ProgramVersion);
    window.SetEditContent(ctl::编辑框安装路径, DefaultInstallDir());
    StartBackground(UnlockAgreeButton);
}

void UnlockAgreeButton() {
    SleepMilliseconds(kAgreeUnlockDelayMs);
    Wizard().Enable(ctl::按钮同意条款, true);
}

void OnAgreeClicked() {
    InstallerWindow& window = Wizard();
    window.SetPage(1);
    window.SetStatusPart(0, "选择目录");
    window.SetStatusPart(1, "选择程序要安装的路径");
}

void OnChooseDirClicked() {}

void OnStartInstallClicked() {}

void OnFinishClicked() {}
