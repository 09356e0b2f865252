// Windows side of the target tree. Each folder on the way is checked by its
// attribute (where Wine shows a link to a folder) and by a handle opened
// with FILE_FLAG_OPEN_REPARSE_POINT (where Windows shows every reparse
// point, whatever the race), and held without delete sharing until the
// operation ends, so the path below it keeps meaning what was checked.
#include "payload/target_tree.h"

#include <windows.h>

#include <vector>

#include "payload/file_ops_win32.h"
#include "system/wide_text.h"

using namespace wide_ops;

namespace {

// The components as the file system reads them; false for an empty, "."
// or ".." component, one the system would trim, or a text that does not
// convert.
bool Components(const Text& relative, std::vector<std::wstring>& parts) {
    std::wstring wide;
    if (relative.empty() || !WideFromText(relative, wide)) return false;
    for (std::size_t at = 0;;) {
        std::size_t end = wide.find_first_of(L"\\/", at);
        if (end == std::wstring::npos) end = wide.size();
        std::wstring part = wide.substr(at, end - at);
        if (part.empty() || part == L"." || part == L".." || part.back() == L'.' || part.back() == L' ') return false;
        parts.push_back(std::move(part));
        if (end == wide.size()) return true;
        at = end + 1;
    }
}

EntryState StateOf(DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return NotFound(GetLastError()) ? EntryState::Missing : EntryState::Other;
    if (IsLink(attributes)) return EntryState::Link;
    return IsFolder(attributes) ? EntryState::Folder : EntryState::File;
}

bool InfoOf(const Handle& handle, BY_HANDLE_FILE_INFORMATION& info) {
    return handle.valid() && GetFileInformationByHandle(handle.get(), &info);
}

}  // namespace

struct TargetTree::State {
    Text root;
    std::wstring wideRoot;  // ends with "\"
    Handle rootHandle;
    BY_HANDLE_FILE_INFORMATION rootInfo{};

    struct Walk {
        std::vector<Handle> pins;
        std::wstring parent;  // ends with "\"
        std::wstring name;
        EntryState blocked = EntryState::Missing;
        bool complete = false;
        std::wstring full() const { return parent + name; }
        // The folder that holds the last component.
        HANDLE holder(const Handle& root) const { return pins.empty() ? root.get() : pins.back().get(); }
    };

    Walk walk(const Text& relative, bool create, bool wholePath = false) const {
        Walk walk;
        std::vector<std::wstring> parts;
        if (!Components(relative, parts)) {
            walk.blocked = EntryState::Other;
            return walk;
        }
        if (!rootHandle.valid()) return walk;
        const std::size_t folders = wholePath ? parts.size() : parts.size() - 1;
        std::wstring at = wideRoot;
        for (std::size_t i = 0; i < folders; ++i) {
            const std::wstring path = at + parts[i];
            DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES && create && NotFound(GetLastError())) {
                CreateDirectoryW(path.c_str(), nullptr);
                attributes = GetFileAttributesW(path.c_str());
            }
            const EntryState state = StateOf(attributes);
            if (state != EntryState::Folder) {
                // Nothing can lie below a file; nothing below a link is reached.
                walk.blocked = state == EntryState::File ? EntryState::Missing : state;
                return walk;
            }
            Handle pin = PinFolder(path);
            if (!pin.valid()) {
                walk.blocked = EntryState::Link;  // it changed since it was looked at
                return walk;
            }
            walk.pins.push_back(std::move(pin));
            at = path + L'\\';
        }
        walk.parent = at;
        walk.name = wholePath ? std::wstring() : parts.back();
        walk.complete = true;
        return walk;
    }
};

TargetTree::TargetTree(const Text& root) : state_(std::make_unique<State>()) {
    state_->root = root;
    if (!WideFromText(root, state_->wideRoot)) state_->wideRoot.clear();
}

TargetTree::~TargetTree() = default;

bool TargetTree::open() {
    State& s = *state_;
    s.rootHandle = Handle();
    if (s.wideRoot.empty()) return false;
    // The root as the caller named it, links in its own path followed.
    Handle root(CreateFileW(s.wideRoot.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!InfoOf(root, s.rootInfo) || !IsFolder(s.rootInfo.dwFileAttributes)) return false;
    s.rootHandle = std::move(root);
    return true;
}

void TargetTree::close() { state_->rootHandle = Handle(); }

bool TargetTree::rootInPlace() const {
    const State& s = *state_;
    if (!s.rootHandle.valid()) return false;
    Handle now(CreateFileW(s.wideRoot.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    return InfoOf(now, info) && IsFolder(info.dwFileAttributes) &&
           info.dwVolumeSerialNumber == s.rootInfo.dwVolumeSerialNumber &&
           info.nFileIndexHigh == s.rootInfo.nFileIndexHigh && info.nFileIndexLow == s.rootInfo.nFileIndexLow;
}

bool TargetTree::makeFolders(const Text& folder) { return folder.empty() || state_->walk(folder, true, true).complete; }

EntryState TargetTree::look(const Text& path, FileHandle* readable, FileIdentity* identity) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return walk.blocked;
    const std::wstring full = walk.full();
    const EntryState state = StateOf(GetFileAttributesW(full.c_str()));
    if (state != EntryState::File) return state;
    FileHandle file(reinterpret_cast<std::intptr_t>(CreateFileW(full.c_str(), GENERIC_READ,
                                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
    if (!file.valid()) return EntryState::File;  // in use: it cannot be read
    const HANDLE native = reinterpret_cast<HANDLE>(file.native());
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(native, &info)) return EntryState::Other;
    if (IsLink(info.dwFileAttributes) || !IsEntryOf(native, walk.holder(state_->rootHandle), full))
        return EntryState::Link;
    if (IsFolder(info.dwFileAttributes)) return EntryState::Folder;
    if (identity) openFileIdentity(file, *identity);
    if (readable) *readable = std::move(file);
    return EntryState::File;
}

FileHandle TargetTree::openForWrite(const Text& path) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return FileHandle();
    const std::wstring full = walk.full();
    const DWORD attributes = GetFileAttributesW(full.c_str());
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // Refused where creating it anew would be: a read-only, hidden or
        // system file, a folder; and a link, which is never written through.
        constexpr DWORD kRefused = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if (attributes & kRefused) return FileHandle();
        // Opened as it is, not emptied yet: what it is gets looked at first.
        Handle file(CreateFileW(full.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kFlags, nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        if (!InfoOf(file, info) || (info.dwFileAttributes & kRefused) ||
            !IsEntryOf(file.get(), walk.holder(state_->rootHandle), full))
            return FileHandle();
        if (info.nNumberOfLinks <= 1) {
            LARGE_INTEGER start{};
            if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()))
                return FileHandle();
            return FileHandle(reinterpret_cast<std::intptr_t>(file.release()));
        }
        // Its other names keep the file: this one goes, a new file takes its place.
        file = OpenVerified(full, walk.holder(state_->rootHandle), DELETE | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        if (!file.valid() || !DeleteOpenFile(file.get())) return FileHandle();
        file = Handle();
        ++removals_;
    } else if (!NotFound(GetLastError())) {
        return FileHandle();
    }
    return FileHandle(reinterpret_cast<std::intptr_t>(
        CreateFileW(full.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, kFlags, nullptr)));
}

void TargetTree::clearAttributes(const Text& path) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return;
    const std::wstring full = walk.full();
    Handle entry = OpenVerified(full, walk.holder(state_->rootHandle), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(entry, info)) return;
    if (!IsFolder(info.dwFileAttributes) && info.nNumberOfLinks > 1) return;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    SetFileInformationByHandle(entry.get(), FileBasicInfo, &basic, sizeof basic);
}

bool TargetTree::remove(const Text& path) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return walk.blocked == EntryState::Missing;
    const std::wstring full = walk.full();
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return NotFound(GetLastError());
    ++removals_;
    if (IsLink(attributes)) {
        RemoveLink(full);
    } else if (IsFolder(attributes)) {
        ClearFolder(full);
        RemoveDirectoryW(full.c_str());
    } else {
        Handle file = OpenVerified(full, walk.holder(state_->rootHandle), DELETE | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        if (file.valid()) DeleteOpenFile(file.get());
    }
    return Missing(full);
}

bool TargetTree::forceRemove(const Text& path) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return walk.blocked == EntryState::Missing;
    const std::wstring full = walk.full();
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return NotFound(GetLastError());
    // Only files are moved out of the way: a link could move what it names.
    if (IsLink(attributes) || IsFolder(attributes)) return false;
    if (!OpenVerified(full, walk.holder(state_->rootHandle), FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)
             .valid())
        return false;
    ++removals_;
    return ForceRemove(full);
}
