#pragma once
// The installer's wizard as the scenarios drive it, the clean state each
// scenario starts from, and what the payload must leave on disk.
#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tests/e2e/driver.h"

extern const Text kWizardCaption;
extern const Text kVersion;
extern const Text kRegistryKey;
extern const Text kRegistryValue;
extern const Text kProductExe;
extern const Text kNotesFile;
// Where the scenarios install, away from the real program folders.
extern const Text kScratchRoot;

// "<Program Files>\VantelPA", as the installer proposes it on a first run.
Text DefaultInstallDir();
// "<Desktop>\Vantel防关联.lnk".
Text DesktopLinkPath();
// The chosen directory plus "\vantelpa-<version>".
Text VersionFolder(const Text& chosenDir);

// No remembered directory, no desktop link, no running product and none
// of the folders; true when all of it holds.
bool MakeCleanState(const std::vector<Text>& folders);
// Makes the clean state now and again when the scenario ends.
class CleanState {
public:
    explicit CleanState(std::vector<Text> folders) : folders_(std::move(folders)), made_(MakeCleanState(folders_)) {}
    ~CleanState() { MakeCleanState(folders_); }
    CleanState(const CleanState&) = delete;
    CleanState& operator=(const CleanState&) = delete;
    bool Made() const { return made_; }

private:
    std::vector<Text> folders_;
    bool made_;
};

// Where a control sits: on the window, in the banner, or on a page (0 to 3).
enum Where { kWindow = -2, kBanner = -1, kPage0 = 0, kPage1, kPage2, kPage3 };

// A control as the user must see it at 96 dpi, written down independently
// of the app's table.
struct ExpectedControl {
    int id;
    const char* className;
    Where where;
    int left, top, width, height;
    const char* text;  // nullptr: not compared
    bool enabled;      // on a first look at the window
};
std::span<const ExpectedControl> ExpectedControls();

// The window of one wizard page (0 to 3) inside the tab control.
HWND PageWindow(HWND tab, int index);
// The wizard shows this page (the tab selection and the only visible page)
// with these status texts.
void ExpectPage(HWND window, int page, const char* status0, const char* status1);

// One file of the payload the installer embeds, read from the archive the
// build packed.
struct PayloadFile {
    Text path;  // relative, "\" separators
    Text md5;
    std::int32_t attributes = 0;
    ByteBuffer data;
};
const std::vector<PayloadFile>& PayloadFiles();
// Every payload file below productDir with its digest and attribute word.
void ExpectPayloadInstalled(const Text& productDir);
// Everything the install leaves besides the files: the remembered
// directory and the desktop link with the installer's values.
void ExpectRegisteredAndLinked(const Text& chosenDir, const Text& productDir);

// Windows opens .txt files with the text editor; this Wine prefix has no
// association for the extension (and one under the user's classes was not
// followed), so a scenario that opens the notes gives it one while it runs.
class TextFileAssociation {
public:
    TextFileAssociation();
    ~TextFileAssociation();
    TextFileAssociation(const TextFileAssociation&) = delete;
    TextFileAssociation& operator=(const TextFileAssociation&) = delete;

private:
    bool existed_ = false;
};

// A running installer and its window.
class WizardSession {
public:
    // Starts the installer (in `directory`, when given) and waits for its
    // window; false when it does not come.
    bool Open(const Text& exe = INSTALLER_EXE, const Text& directory = "");
    HWND Window() const { return window_; }
    HWND Control(int id) const;
    InstallerProcess& Process() { return process_; }
    // Milliseconds since the window was found.
    DWORD SinceShown() const { return GetTickCount() - shownAt_; }

    int Page() const;
    bool WaitForPage(int page, DWORD timeoutMs) const;
    Text Status(int part) const;
    // The page shown (the tab selection and the only visible page) and both status texts.
    void ExpectPage(int page, const char* status0, const char* status1) const;
    Text PathBox() const;

    // Waits for the agree button, clicks it and waits for page 1.
    bool Agree();
    // Types the path, clicks the start button; true when the install page comes.
    bool StartInstall(const Text& path);
    // Agree, start, and wait for the finish page.
    bool InstallTo(const Text& path);
    // Clicks the folder button; the dialog, or nullptr when none came.
    HWND OpenFolderDialog();

    bool Screenshot(const std::string& name) const;
    // Closes the window; true when the installer has ended within the time.
    bool Close(DWORD timeoutMs = 20000);

private:
    InstallerProcess process_;
    HWND window_ = nullptr;
    DWORD shownAt_ = 0;
};

// Time limits of the waits, wide for a loaded machine.
constexpr DWORD kWindowTimeoutMs = 30000;
constexpr DWORD kUnlockTimeoutMs = 20000;
constexpr DWORD kInstallTimeoutMs = 90000;
