#include "app/shortcut.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "system/com_owner.h"
#include "system/wide_text.h"

namespace {

// A path as the file functions take it; false when code page 936 does not define it.
bool WidePath(const Text& path, std::wstring& wide) { return WideFromText(TextFromBytes(path.data(), path.size()), wide); }

// Splits at every backslash character (a two-byte character is never split).
TextList SplitAtBackslash(const Text& text) {
    TextList parts(1);
    for (const Text& ch : SplitChars(text)) {
        if (ch == "\\") {
            parts.emplace_back();
        } else {
            parts.back() += ch;
        }
    }
    return parts;
}

Text WorkingDirectoryOf(const TextList& components) {
    Text dir;
    for (std::size_t i = 0; i + 1 < components.size(); ++i) dir += components[i] + "\\";
    return dir;
}

struct NamedKey {
    const char* name;
    BYTE key;
};

const NamedKey kNamedKeys[] = {
    {"space", VK_SPACE},    {"tab", VK_TAB},       {"enter", VK_RETURN},     {"return", VK_RETURN},
    {"esc", VK_ESCAPE},     {"escape", VK_ESCAPE}, {"backspace", VK_BACK},   {"insert", VK_INSERT},
    {"ins", VK_INSERT},     {"delete", VK_DELETE}, {"del", VK_DELETE},       {"home", VK_HOME},
    {"end", VK_END},        {"pageup", VK_PRIOR},  {"pagedown", VK_NEXT},    {"pgup", VK_PRIOR},
    {"pgdn", VK_NEXT},      {"left", VK_LEFT},     {"up", VK_UP},            {"right", VK_RIGHT},
    {"down", VK_DOWN},
};

struct Modifier {
    const char* name;
    BYTE flag;
};

const Modifier kModifiers[] = {
    {"shift", HOTKEYF_SHIFT}, {"ctrl", HOTKEYF_CONTROL}, {"control", HOTKEYF_CONTROL},
    {"alt", HOTKEYF_ALT},     {"ext", HOTKEYF_EXT},
};

// The virtual key of a key name; 0 when it names none.
BYTE KeyFromName(const Text& lowered) {
    if (lowered.size() == 1) {
        char c = lowered[0];
        if (c >= 'a' && c <= 'z') return static_cast<BYTE>(c - 'a' + 'A');
        if (c >= '0' && c <= '9') return static_cast<BYTE>(c);
        return 0;
    }
    if (lowered[0] == 'f' && lowered.size() <= 3 && std::strspn(lowered.c_str() + 1, "0123456789") == lowered.size() - 1) {
        int n = std::atoi(lowered.c_str() + 1);
        return n >= 1 && n <= 24 ? static_cast<BYTE>(VK_F1 + n - 1) : 0;
    }
    for (const NamedKey& k : kNamedKeys)
        if (lowered == k.name) return k.key;
    return 0;
}

}  // namespace

bool FileExists(const Text& path) {
    std::wstring wide;
    return WidePath(path, wide) && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void InitComForThread() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

WORD HotKeyFromText(const Text& hotKey) {
    TextList parts{Text()};
    for (char c : LowerAscii(hotKey)) {
        if (c == '+') {
            parts.emplace_back();
        } else if (c != ' ') {
            parts.back() += c;
        }
    }
    BYTE flags = 0;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        BYTE flag = 0;
        for (const Modifier& m : kModifiers)
            if (parts[i] == m.name) flag = m.flag;
        if (!flag) return 0;
        flags |= flag;
    }
    BYTE key = parts.back().empty() ? 0 : KeyFromName(parts.back());
    return key ? MAKEWORD(key, flags) : 0;
}

void SplitIconLocation(const Text& location, Text& path, int& index) {
    path = location;
    index = 0;
    std::size_t comma = location.find_last_of(',');
    if (comma == Text::npos) return;
    Text digits = location.substr(comma + 1);
    std::size_t start = !digits.empty() && digits[0] == '-' ? 1 : 0;
    if (digits.size() == start || digits.find_first_not_of("0123456789", start) != Text::npos) return;
    path = location.substr(0, comma);
    index = std::atoi(digits.c_str());
}

bool CreateShortcutFile(Text& linkPath, const Text& target, const Text& arguments, const Text& iconLocation,
                        int windowStyle, const Text& description, const Text& hotKey) {
    if (FindChars(LowerAscii(linkPath), ".lnk") == 0) linkPath += ".lnk";
    std::wstring wideLink, wideTarget;
    const bool linkNamed = WidePath(linkPath, wideLink);
    if (linkNamed && FileExists(linkPath)) DeleteFileW(wideLink.c_str());
    TextList components = SplitAtBackslash(target);
    if (components.size() < 2) return false;
    const Text workingDirectory = WorkingDirectoryOf(components);

    InitComForThread();
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.OutVoid())))
        return false;
    ComPtr<IPersistFile> file = link.As<IPersistFile>(IID_IPersistFile);
    if (!file) return false;
    if (!WidePath(target, wideTarget) || FAILED(link->SetPath(wideTarget.c_str()))) return false;

    // From here on a failed field does not stop the link from being saved.
    link->SetWorkingDirectory(Wide(workingDirectory).c_str());
    Text iconPath;
    int iconIndex = 0;
    SplitIconLocation(iconLocation.empty() ? target + ",0" : iconLocation, iconPath, iconIndex);
    link->SetIconLocation(Wide(iconPath).c_str(), iconIndex);
    link->SetShowCmd(windowStyle);
    link->SetDescription(Wide(description).c_str());
    link->SetArguments(Wide(arguments).c_str());
    link->SetHotkey(HotKeyFromText(hotKey));
    // A link path the file functions cannot name is not saved anywhere else.
    if (linkNamed) file->Save(wideLink.c_str(), TRUE);
    return true;
}
