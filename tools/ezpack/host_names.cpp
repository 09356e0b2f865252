#include "host_names.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>

#include "system/posix_path.h"
#endif

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kLargestFile = 0x7FFFFFFF;  // a record's length word

#ifdef _WIN32
std::wstring Widen(const Text& text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// False when a character has no exact form in the ANSI code page.
bool NameFits(const fs::path& name) {
    std::wstring wide = name.wstring();
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, &usedDefault);
    return n > 0 && !usedDefault;
}

fs::path NativeFolder(const Text& folder) { return fs::path(Widen(folder)); }
std::string Shown(const fs::path& path) { return path.string(); }
#else
bool NameFits(const fs::path& name) {
    Text gbk;
    return Utf8ToGbk(name.string(), gbk) && gbk.find('\\') == Text::npos;
}

fs::path NativeFolder(const Text& folder) { return fs::path(ToPosixPath(folder)); }
std::string Shown(const fs::path& path) { return path.string(); }
#endif

}  // namespace

bool ArgumentToPath(const std::string& argument, Text& path) {
#ifdef _WIN32
    char full[4096] = {};
    DWORD n = GetFullPathNameA(argument.c_str(), sizeof(full), full, nullptr);
    if (n == 0 || n >= sizeof(full)) return false;
    path.assign(full, n);
    return true;
#else
    std::error_code error;
    fs::path absolute = fs::absolute(argument, error);
    if (error) return false;
    path = FromPosixPath(absolute.lexically_normal().string());
    return !path.empty();
#endif
}

std::string ForConsole(const Text& text) {
#ifdef _WIN32
    return text;
#else
    std::string utf8;
    return GbkToUtf8(text, utf8) ? utf8 : text;
#endif
}

std::string ConsolePath(const Text& path) {
#ifdef _WIN32
    return path;
#else
    std::string native = ToPosixPath(path);
    return native.empty() ? path : native;
#endif
}

bool CheckPackable(const Text& folder, std::string& offender, std::string& reason) {
    std::error_code error;
    fs::recursive_directory_iterator it(NativeFolder(folder), error), end;
    for (; !error && it != end; it.increment(error)) {
        const fs::directory_entry& entry = *it;
        if (!NameFits(entry.path().filename())) {
            offender = Shown(entry.path());
            reason = "name cannot be held in the GBK code page";
            return false;
        }
        std::error_code ignored;
        if (entry.is_symlink(ignored) && entry.is_directory(ignored)) {
            offender = Shown(entry.path());
            reason = "link to a folder";
            return false;
        }
        if (entry.is_regular_file(ignored) && entry.file_size(ignored) > kLargestFile) {
            offender = Shown(entry.path());
            reason = "file larger than 2 GiB";
            return false;
        }
    }
    if (error) {
        offender = Shown(NativeFolder(folder));
        reason = "cannot be listed (" + error.message() + ")";
        return false;
    }
    return true;
}

bool StdoutIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}
