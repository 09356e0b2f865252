// Windows side of the target tree. Each folder on the way is checked by its
// attribute (where Wine shows a link to a folder) and by a handle opened
// with FILE_FLAG_OPEN_REPARSE_POINT (where Windows shows every reparse
// point, whatever the race), and held without delete sharing while records
// go through it, so the path below it keeps meaning what was checked. A
// file is used only when the name its handle reports is the one listed.
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

bool InfoOf(const Handle& handle, EntryInfo& info, bool withFileId = false) {
    return handle.valid() && QueryEntry(handle.get(), info, withFileId);
}

}  // namespace

struct TargetTree::State {
    Text root;
    std::wstring wideRoot;  // ends with "\\"
    Handle rootHandle;
    std::wstring rootName;  // as the volume names it
    std::uint64_t rootVolume = 0;

    // The folders of the last walk, from the root down, each held open.
    // Records come folder by folder, so the next walk mostly starts with
    // the same ones; held folders cannot be renamed or removed, so their
    // paths keep naming them.
    struct Folder {
        std::wstring component;
        std::wstring path;  // ends with "\\"
        Handle pin;
        std::wstring name;  // as the volume names it
    };
    std::vector<Folder> chain;

    struct Walk {
        std::wstring parent;      // ends with "\\"
        std::wstring parentName;  // the holding folder as the volume names it
        std::wstring name;
        EntryState blocked = EntryState::Missing;
        bool complete = false;
        std::wstring full() const { return parent + name; }
    };

    Walk walk(const Text& relative, bool create, bool wholePath = false) {
        Walk walk;
        std::vector<std::wstring> parts;
        if (!Components(relative, parts)) {
            walk.blocked = EntryState::Other;
            return walk;
        }
        const std::size_t folders = wholePath ? parts.size() : parts.size() - 1;
        std::size_t kept = 0;
        while (kept < chain.size() && kept < folders && chain[kept].component == parts[kept]) ++kept;
        chain.resize(kept);
        if (!rootHandle.valid()) return walk;
        for (std::size_t i = kept; i < folders; ++i) {
            const std::wstring path = (i == 0 ? wideRoot : chain.back().path) + parts[i];
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
            Folder folder{parts[i], path + L'\\', PinFolder(path), std::wstring()};
            if (!folder.pin.valid() || !HandleName(folder.pin.get(), folder.name)) {
                walk.blocked = EntryState::Link;  // it changed since it was looked at
                return walk;
            }
            chain.push_back(std::move(folder));
        }
        walk.parent = folders == 0 ? wideRoot : chain.back().path;
        walk.parentName = folders == 0 ? rootName : chain.back().name;
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
    close();
    State& s = *state_;
    if (s.wideRoot.empty()) return false;
    // The root as the caller named it, links in its own path followed.
    Handle root(CreateFileW(s.wideRoot.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!root.valid() || !GetFileInformationByHandle(root.get(), &info) || !IsFolder(info.dwFileAttributes) ||
        !HandleName(root.get(), s.rootName))
        return false;
    s.rootVolume = info.dwVolumeSerialNumber;
    s.rootHandle = std::move(root);
    return true;
}

bool TargetTree::identify(const FileHandle& file, FileIdentity& identity) const {
    EntryInfo info;
    if (!QueryEntry(reinterpret_cast<HANDLE>(file.native()), info, true)) return false;
    identity.volume = state_->rootVolume;
    identity.file = info.fileId;
    identity.size = info.size;
    identity.writeTime = info.writeTime;
    identity.changeTime = info.changeTime;
    identity.links = info.links;
    return true;
}

void TargetTree::close() {
    state_->chain.clear();
    state_->rootHandle = Handle();
}

bool TargetTree::rootInPlace() const {
    // Held without delete sharing, the root can be neither renamed nor
    // removed: while a folder is there, it is the one opened.
    const DWORD attributes = GetFileAttributesW(state_->wideRoot.c_str());
    return state_->rootHandle.valid() && IsFolder(attributes) && !IsLink(attributes);
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
    EntryInfo info;
    if (!QueryEntry(native, info)) return EntryState::Other;
    if (IsLink(info.attributes) || !IsEntryOf(native, walk.parentName, full, walk.name)) return EntryState::Link;
    if (IsFolder(info.attributes)) return EntryState::Folder;
    if (identity) identify(file, *identity);
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
        EntryInfo info;
        if (!InfoOf(file, info) || (info.attributes & kRefused) || !IsEntryOf(file.get(), walk.parentName, full, walk.name))
            return FileHandle();
        if (info.links <= 1) {
            LARGE_INTEGER start{};
            if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()))
                return FileHandle();
            return FileHandle(reinterpret_cast<std::intptr_t>(file.release()));
        }
        // Its other names keep the file: this one goes, a new file takes its place.
        file = OpenVerified(full, walk.parentName, walk.name, DELETE | FILE_READ_ATTRIBUTES,
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
    Handle entry = OpenVerified(full, walk.parentName, walk.name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    EntryInfo info;
    if (!InfoOf(entry, info)) return;
    if (!IsFolder(info.attributes) && info.links > 1) return;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    SetFileInformationByHandle(entry.get(), FileBasicInfo, &basic, sizeof basic);
}

bool TargetTree::remove(const Text& path) {
    // The walk holds only the folders above the path: a folder removed here is not held.
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
        Handle file = OpenVerified(full, walk.parentName, walk.name, DELETE | FILE_READ_ATTRIBUTES,
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
    if (!OpenVerified(full, walk.parentName, walk.name, FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)
             .valid())
        return false;
    ++removals_;
    return ForceRemove(full);
}
