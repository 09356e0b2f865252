#include "payload/archive_path.h"

#include <string>
#include <string_view>

#include "system/native_spelling.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsReserved(char c) {
    return static_cast<unsigned char>(c) < 0x20 || std::string_view(":<>\"|?*").find(c) != std::string_view::npos;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool EqualsUpper(std::string_view name, std::string_view upper) {
    if (name.size() != upper.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (Upper(name[i]) != upper[i]) return false;
    return true;
}

bool IsNumberedDevice(std::string_view base) {
    if (base.size() != 4 || base[3] < '1' || base[3] > '9') return false;
    return EqualsUpper(base.substr(0, 3), "COM") || EqualsUpper(base.substr(0, 3), "LPT");
}

// The name before any extension, trailing spaces dropped, as the system
// matches device names ("nul.txt" and "con .x" are devices too).
bool IsDeviceName(std::string_view component) {
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (EqualsUpper(base, device)) return true;
    return IsNumberedDevice(base);
}

bool IsValidComponent(std::string_view component) {
    if (component.find_first_not_of(". ") == std::string_view::npos) return false;  // empty too
    if (component.back() == '.' || component.back() == ' ') return false;
    for (char c : component)
        if (IsReserved(c)) return false;
    return !IsDeviceName(component);
}

}  // namespace

bool IsSafeArchivePath(const Text& path) {
    if (path.empty() || path.size() >= kMaxPathBytes) return false;
    std::string spelled;
    if (!NativeSpelling(path, spelled)) return false;
    std::string_view rest(spelled);
    for (;;) {
        std::size_t end = 0;
        while (end < rest.size() && !IsSeparator(rest[end])) ++end;
        if (!IsValidComponent(rest.substr(0, end))) return false;
        if (end == rest.size()) return true;
        rest.remove_prefix(end + 1);
    }
}
