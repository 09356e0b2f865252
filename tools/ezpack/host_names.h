#pragma once
// The archive's GBK texts on the console, and the host's names in the archive.
#include <string>

#include "system/text.h"

// A GBK text for the console: UTF-8 on Linux, GBK on Windows. Control
// bytes, and bytes that form no character there, are shown as \xNN; "\"
// stays as it is.
std::string ForConsole(const Text& text);
// A full path for the console, in the host's own form, shown the same way.
std::string ConsolePath(const Text& path);
// Walks a folder and reports the first entry whose name GBK cannot hold,
// or that is a link to a folder, or that is too large to store; true when
// every entry can be packed.
bool CheckPackable(const Text& folder, std::string& offender, std::string& reason);
bool StdoutIsTerminal();
