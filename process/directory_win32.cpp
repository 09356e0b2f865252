#include "process/directory.h"

#include <windows.h>

#include <string>

#include "system/wide_text.h"

namespace {

// Where the levels to create begin: after "X:" or the "\\server\share"
// of a network path, and after the separators of the root.
std::size_t FirstLevel(const std::wstring& path) {
    std::size_t at = 0;
    if (path.size() >= 2 && path[1] == L':') {
        at = 2;
    } else if (path.rfind(L"\\\\", 0) == 0) {
        at = 2;
        for (int part = 0; part < 2 && at < path.size(); ++part) {
            at = path.find(L'\\', at);
            if (at == std::wstring::npos) return path.size();
            if (part == 0) ++at;
        }
    }
    while (at < path.size() && path[at] == L'\\') ++at;
    return at;
}

}  // namespace

// Each level up to every "\" is created in turn, as the imagehlp routine
// does for ANSI paths; the levels are found in the wide text, so a
// two-byte character whose second byte is 0x5C never splits a name.
bool EnsureDirectoryPath(const Text& path) {
    std::wstring directory;
    if (!WideFromText(NormaliseDirectory(path), directory)) return false;
    for (std::size_t at = FirstLevel(directory); at < directory.size(); ++at) {
        if (directory[at] != L'\\') continue;
        const std::wstring level = directory.substr(0, at + 1);
        if (!CreateDirectoryW(level.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    DWORD attributes = GetFileAttributesW(directory.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
