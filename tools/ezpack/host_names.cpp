#include "host_names.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>

#include "system/wide_text.h"
#else
#include <unistd.h>

#include "system/posix_path.h"
#endif

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kLargestFile = 0x7FFFFFFF;  // a record's length word

#ifdef _WIN32
// False when a character has no exact form in code page 936, the archive's.
bool NameFits(const fs::path& name) {
    Text gbk;
    return TextFromWide(name.wstring(), gbk);
}

fs::path NativeFolder(const Text& folder) { return fs::path(Wide(folder)); }
std::string Shown(const fs::path& path) { return path.string(); }
#else
bool NameFits(const fs::path& name) {
    Text gbk;
    return Utf8ToGbk(name.string(), gbk) && gbk.find('\\') == Text::npos;
}

fs::path NativeFolder(const Text& folder) { return fs::path(ToPosixPath(folder)); }
std::string Shown(const fs::path& path) { return path.string(); }
#endif

// Archive texts are hostile: a control byte, or a byte that forms no
// character, would reach the terminal as it is. Such bytes show as \xNN.
void AppendEscaped(std::string& out, unsigned char byte) {
    static const char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
}

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

#ifdef _WIN32
// The console takes GBK as it is: a lead byte with a trail byte is one character.
bool ShownChar(unsigned char lead, unsigned char trail, std::string& out) {
    if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
    out += static_cast<char>(lead);
    out += static_cast<char>(trail);
    return true;
}
#else
// U+0080..U+009F are controls too (U+009B starts a sequence on some terminals).
bool HasC1Control(const std::string& utf8) {
    for (std::size_t i = 0; i + 1 < utf8.size(); ++i)
        if (static_cast<unsigned char>(utf8[i]) == 0xC2 && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) return true;
    return false;
}

bool ShownChar(unsigned char lead, unsigned char trail, std::string& out) {
    std::string utf8;
    if (!GbkToUtf8(Text{static_cast<char>(lead), static_cast<char>(trail)}, utf8) || HasC1Control(utf8)) return false;
    out += utf8;
    return true;
}

// The common case converts in one go.
bool ShownWhole(const Text& text, char separator, std::string& out) {
    for (unsigned char byte : text)
        if (IsControl(byte)) return false;
    if (!GbkToUtf8(text, out) || HasC1Control(out)) return false;
    for (char& c : out)
        if (c == '\\') c = separator;
    return true;
}
#endif

// A backslash is the path separator and shows as `separator`.
std::string Visible(const Text& text, char separator) {
    std::string out;
#ifndef _WIN32
    if (ShownWhole(text, separator, out)) return out;
    out.clear();
#endif
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if (IsControl(byte))
                AppendEscaped(out, byte);
            else
                out += byte == '\\' ? separator : static_cast<char>(byte);
            ++i;
        } else if (i + 1 < text.size() && ShownChar(byte, static_cast<unsigned char>(text[i + 1]), out)) {
            i += 2;
        } else {
            AppendEscaped(out, byte);  // the next byte is judged on its own
            ++i;
        }
    }
    return out;
}

}  // namespace

std::string ForConsole(const Text& text) { return Visible(text, '\\'); }

std::string ConsolePath(const Text& path) {
#ifdef _WIN32
    return Visible(path, '\\');
#else
    return Visible(path, '/');
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
