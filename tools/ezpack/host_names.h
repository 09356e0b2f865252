#pragma once
// Paths between the command line and the archive's ANSI (GBK) texts.
#include <string>

#include "system/text.h"

// An absolute GBK path with "\" separators for a command-line argument;
// false when the name cannot be held in GBK.
bool ArgumentToPath(const std::string& argument, Text& path);
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
