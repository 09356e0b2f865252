#include "command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "system/wide_text.h"

namespace {

struct LocalFreer {
    void operator()(LPWSTR* block) const { LocalFree(block); }
};
using WideArguments = std::unique_ptr<LPWSTR[], LocalFreer>;

// An argument code page 936 cannot carry keeps a look-alike for messages
// only: it must never name a file that may be another one.
Argument FromWide(const std::wstring& wide) {
    Argument argument;
    argument.held = TextFromWide(wide, argument.text);
    if (!argument.held) argument.text = Narrow(wide);
    return argument;
}

}  // namespace

// The CRT's argv went through the ANSI code page, which may not hold the name.
std::vector<Argument> CommandArguments(int, char**) {
    int count = 0;
    WideArguments wide(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<Argument> arguments;
    for (int i = 1; wide && i < count; ++i) arguments.push_back(FromWide(wide[i]));
    return arguments;
}

bool ArgumentToPath(const Argument& argument, Text& path) {
    std::wstring name;
    if (!argument.held || !WideFromText(argument.text, name)) return false;
    std::wstring full(4096, L'\0');
    DWORD n = GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size()) return false;
    full.resize(n);
    return TextFromWide(full, path);
}
