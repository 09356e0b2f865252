#pragma once
// Shell folders, the temporary directory and the folder dialog.
#include <cstdint>

#include "system/text.h"

constexpr int kCsidlDesktop = 0x00;
constexpr int kCsidlProgramFiles = 0x26;
constexpr int kCsidlTempPseudo = -11;

// Paths come from the wide system calls and are converted to code page 936;
// one that code page cannot carry is a failure (empty), never a guess.

// The temporary directory without a final backslash; empty on failure.
// One code page 936 cannot name gives way to the Windows folder's "Temp".
Text TempDirectory();
// The folder's path; -11 is the temporary directory. Empty on failure.
Text SpecialFolderPath(int folderId);

#ifdef _WIN32
#include <windows.h>
// The chosen folder, or empty when cancelled or not a file-system item.
Text BrowseForFolder(HWND owner, const Text& title, int rootFolderId = kCsidlDesktop);
// A bare name ("shell32.dll") is the system folder's DLL, never the native
// loader's; a full path is that file, through either loader. Anything else
// (a relative path) is null.
HMODULE LoadModule(const Text& name, bool useNativeLoader = false);
// The shell library as SpecialFolderPath loaded it; null until then.
HMODULE ShellLibraryHandle();
#endif
