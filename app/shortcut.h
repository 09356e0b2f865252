#pragma once
// The desktop shortcut: a shell link written through IShellLinkW and
// IPersistFile with the values the shell automation object would write.
#include <windows.h>

#include "system/text.h"

// Appends ".lnk" to linkPath unless it contains ".lnk" in any letter case,
// deletes an existing file there, and saves a link to target (which needs
// at least one backslash) started in the target's folder with its final
// backslash. An empty iconLocation means target + ",0". hotKey is in the
// shell's notation, e.g. "Ctrl+Alt+R". False when it gave up before saving.
bool CreateShortcutFile(Text& linkPath, const Text& target, const Text& arguments, const Text& iconLocation,
                        int windowStyle, const Text& description, const Text& hotKey);

// True when the path names a file or a directory.
bool FileExists(const Text& path);
// Joins the multithreaded apartment; never undone.
void InitComForThread();

// "Ctrl+Alt+R" as a hot-key word: virtual key low, HOTKEYF_* flags high.
// 0 when the text names no key.
WORD HotKeyFromText(const Text& hotKey);
// "path,index" split at its last comma when an index follows; index 0 otherwise.
void SplitIconLocation(const Text& location, Text& path, int& index);
