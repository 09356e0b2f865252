#pragma once
// The tool's command line: its arguments, and the full paths they name.
#include <string>
#include <vector>

#include "system/text.h"

// One argument as the commands read it. text is what messages show (GBK
// on Windows, the terminal's own bytes on Linux); held is false when the
// command line gave characters code page 936 cannot carry.
struct Argument {
    std::string text;
    bool held = true;
};

// The arguments after the program's name. Windows reads them from the wide
// command line, so a name arrives whole whatever the system's code page.
std::vector<Argument> CommandArguments(int argc, char** argv);
// An absolute GBK path with "\" separators; false when the name cannot be
// held in GBK.
bool ArgumentToPath(const Argument& argument, Text& path);
