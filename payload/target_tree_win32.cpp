// Windows side of the target tree: every step is an NtCreateFile relative to
// a folder handle already held, never following a link at the name
// (FILE_OPEN_REPARSE_POINT), and every folder on the way must be a real
// folder on the root's volume. The folders of the last walk stay held
// without delete sharing: records come folder by folder, and a held folder
// cannot be renamed or removed, so it need not be checked again.
#include "payload/target_tree.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "payload/file_ops_win32.h"
#include "payload/nt_folders.h"
#include "system/wide_text.h"

using nt_folders::Entry;
using nt_folders::EntryAt;
using nt_folders::Folder;
using nt_folders::kShareAll;
using wide_ops::EntryInfo;
using wide_ops::Handle;

namespace {

// Below this a record's path (260 bytes at most) cannot reach.
constexpr int kDeepestFolder = 130;

// The staging names in a held folder and in every real folder below it on
// the volume, as "\"-separated paths after `prefix`.
void FindLeftovers(const nt_folders::Folder& folder, std::uint64_t volume, const std::wstring& prefix, int depth,
                   std::vector<std::wstring>& found) {
    for (const std::wstring& name : nt_folders::NamesIn(folder)) {
        if (IsStagingName(name)) {
            const Entry entry = EntryAt(folder, name, 0, kShareAll);
            if (entry.state == EntryState::File || entry.state == EntryState::Link) found.push_back(prefix + name);
            if (entry.state != EntryState::Folder) continue;
        }
        if (depth >= kDeepestFolder) continue;
        const Entry inner = nt_folders::FolderAt(folder, name, false, volume);
        if (inner.state == EntryState::Folder)
            FindLeftovers(inner.folder(), volume, prefix + name + L"\\", depth + 1, found);
    }
}

// The components as the file system reads them; false for an empty, "."
// or ".." component, one the system would trim, one naming a stream or
// holding a wildcard, or a text that does not convert.
bool Components(const Text& relative, std::vector<std::wstring>& parts) {
    std::wstring wide;
    if (relative.empty() || !WideFromText(relative, wide)) return false;
    for (std::size_t at = 0;;) {
        std::size_t end = wide.find_first_of(L"\\/", at);
        if (end == std::wstring::npos) end = wide.size();
        std::wstring part = wide.substr(at, end - at);
        if (part.empty() || part == L"." || part == L".." || part.back() == L'.' || part.back() == L' ' ||
            part.find_first_of(L":*?\"<>") != std::wstring::npos)
            return false;
        parts.push_back(std::move(part));
        if (end == wide.size()) return true;
        at = end + 1;
    }
}

// What lies beyond an entry on the way that is no folder: nothing below a
// file, nothing reachable below a link.
EntryState Blocking(EntryState onTheWay) {
    if (onTheWay == EntryState::File || onTheWay == EntryState::Missing) return EntryState::Missing;
    return onTheWay == EntryState::Link ? EntryState::Link : EntryState::Other;
}

HANDLE Native(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.native()); }

// The user of this process's token; empty when it cannot be told.
const std::vector<BYTE>& TokenUserInfo() {
    static const std::vector<BYTE> user = [] {
        std::vector<BYTE> info;
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return info;
        const Handle token(raw);
        DWORD size = 0;
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
        info.resize(size);
        if (size == 0 || !GetTokenInformation(token.get(), TokenUser, info.data(), size, &size)) info.clear();
        return info;
    }();
    return user;
}

// NT SERVICE\TrustedInstaller, which owns the system's own files.
bool IsTrustedInstaller(PSID sid) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID installer = nullptr;
    const bool same = AllocateAndInitializeSid(&nt, 6, 80u, 956008885u, 3418522649u, 1831038044u, 1853292631u,
                                               2271478464u, 0u, 0u, &installer) &&
                      EqualSid(sid, installer);
    if (installer) FreeSid(installer);
    return same;
}

// Owned by the installing user or the system's own accounts: no other user
// can take the file over. What an elevated administrator makes is often
// owned by Administrators. The handle needs READ_CONTROL.
bool OwnedByTrusted(HANDLE file) {
    // One query into a buffer that holds any owner (GetSecurityInfo asks
    // twice, and under Wine each ask is a round trip to the server).
    alignas(8) BYTE buffer[256];
    DWORD needed = 0;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, buffer, sizeof buffer, &needed) ||
        !GetSecurityDescriptorOwner(buffer, &owner, &defaulted) || !owner || !IsValidSid(owner))
        return false;
    const std::vector<BYTE>& user = TokenUserInfo();
    return (!user.empty() && EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) ||
           IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid) ||
           IsTrustedInstaller(owner);
}

FileIdentity IdentityOf(const EntryInfo& info, std::uint64_t volume) {
    FileIdentity identity;
    identity.volume = volume;
    identity.file = info.fileId;
    identity.size = info.size;
    identity.writeTime = info.writeTime;
    identity.changeTime = info.changeTime;
    identity.links = info.links;
    return identity;
}

// A folder named by a path, links in it followed; invalid when it is no folder.
Handle OpenFolderPath(const std::wstring& path) {
    Handle folder(CreateFileW(path.c_str(), nt_folders::kFolderAccess, nt_folders::kShareNoDelete, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    EntryInfo info;
    if (folder.valid() && (!wide_ops::QueryEntry(folder.get(), info) || !wide_ops::IsFolder(info.attributes))) {
        SetLastError(ERROR_DIRECTORY);
        return Handle();
    }
    return folder;
}

// Where the levels of a whole path begin: after "C:\" or "\\server\share\".
std::size_t VolumeEnd(const std::wstring& path) {
    const wchar_t* rest = PathSkipRootW(path.c_str());
    return rest ? static_cast<std::size_t>(rest - path.c_str()) : 0;
}

// The path with the links of its levels that exist followed, once: the
// deepest of them as the system names it, then the rest as given.
std::wstring Followed(const std::wstring& path) {
    const std::size_t volumeEnd = VolumeEnd(path);
    for (std::size_t end = path.size(); end > volumeEnd;) {
        const Handle level = OpenFolderPath(path.substr(0, end));
        if (level.valid()) {
            std::wstring named = nt_folders::PathOf(level.get());
            if (named.rfind(L"\\\\?\\UNC\\", 0) == 0) {
                named.erase(0, 6);
                named[0] = L'\\';
            } else if (named.rfind(L"\\\\?\\", 0) == 0) {
                named.erase(0, 4);
            }
            return named.empty() ? path : named + path.substr(end);
        }
        if (!wide_ops::NotFound(GetLastError())) break;
        end = path.find_last_of(L"\\/", end - 1);
        if (end == std::wstring::npos || end < volumeEnd) end = volumeEnd;
    }
    return path;
}

// Every level of a whole path from its volume's root down, each opened
// (and with `create` made) relative to the one above, held without delete
// sharing: none of them can be renamed or replaced while it is held, so
// the path names the last as long as they are. False at a level that is
// missing, refused or a link; `linkEnd` then ends the path at the link.
bool HoldLevels(const std::wstring& path, bool create, std::vector<Handle>& levels, std::size_t& linkEnd) {
    const std::size_t volumeEnd = VolumeEnd(path);
    if (volumeEnd == 0) return false;
    Handle volumeRoot = OpenFolderPath(path.substr(0, volumeEnd));
    Folder parent{volumeRoot.get(), std::wstring()};
    if (!volumeRoot.valid() || !wide_ops::HandleName(volumeRoot.get(), parent.name)) return false;
    const std::uint64_t volume = nt_folders::VolumeOf(volumeRoot.get());
    levels.push_back(std::move(volumeRoot));
    for (std::size_t at = volumeEnd; at < path.size();) {
        const std::size_t end = std::min(path.find_first_of(L"\\/", at), path.size());
        if (end > at) {
            // A tag that names nothing else (a cloud file's, say) is an ordinary folder.
            Entry level = nt_folders::FolderAt(parent, path.substr(at, end - at), create, volume, 0, true);
            if (level.state == EntryState::Link) linkEnd = end;
            if (level.state != EntryState::Folder) return false;
            parent = Folder{level.handle.get(), std::move(level.name)};
            levels.push_back(std::move(level.handle));
        }
        at = end + 1;
    }
    return true;
}

}  // namespace

struct StagedFile::State {
    Handle parent;  // the folder it is staged in, held: a handle of its own
    std::wstring parentName;
    std::wstring name;  // the name it is staged for
    FileHandle file;
    bool committed = false;

    Folder folder() const { return Folder{parent.get(), parentName}; }
    ~State() {
        // Through its own handle: whatever took its name meanwhile stays.
        if (!committed && file.valid()) wide_ops::DeleteOpenFile(Native(file));
    }
};

StagedFile::StagedFile() = default;
StagedFile::~StagedFile() = default;
StagedFile::StagedFile(StagedFile&&) noexcept = default;
StagedFile& StagedFile::operator=(StagedFile&&) noexcept = default;
bool StagedFile::valid() const { return state_ && state_->file.valid(); }
const FileHandle& StagedFile::file() const {
    static const FileHandle none;
    return state_ ? state_->file : none;
}

struct TargetTree::State {
    Text root;
    RootPath rootPath = RootPath::Strict;
    Text linkOnTheWay;
    std::vector<Handle> above;  // the levels from the volume's root to the root's folder, held

    // A folder on the way, held: the root has no component.
    struct Held {
        std::wstring component;
        Handle handle;
        std::wstring name;  // as the volume names it
        std::uint64_t id = 0;
        Folder folder() const { return Folder{handle.get(), name}; }
    };
    Held rootFolder;
    std::uint64_t rootVolume = nt_folders::kUnknownVolume;
    std::vector<Held> chain;         // the folders of the last walk, from the root down
    std::set<std::uint64_t> walked;  // file IDs of the folders makeFolders went through
    std::set<std::uint64_t> swept;   // file IDs of the folders cleared of earlier runs' staging files
    std::set<std::wstring> staged;   // staging names this tree gave, never swept
    std::vector<nt_folders::Aside> asides;  // held files moved out of the way

    ~State() {
        for (nt_folders::Aside& aside : asides) nt_folders::FinishAside(aside);
    }

    const Held& heldAt(std::size_t depth) const { return depth == 0 ? rootFolder : chain[depth - 1]; }

    // The folders from the root down to the one holding the last component.
    struct Walk {
        std::size_t depth = 0;  // of the folder holding `name`
        std::wstring name;
        EntryState blocked = EntryState::Missing;  // what stopped the walk
        bool complete = false;
    };

    // Removes the staging files earlier runs left in a held folder, once:
    // a file or a link (only the link) of a staging name, never a folder.
    // A staging file of a live run is open without sharing and stays.
    void sweep(const Held& held, std::uint64_t& removals) {
        if (!swept.insert(held.id).second) return;
        for (const std::wstring& name : nt_folders::NamesIn(held.folder())) {
            if (!IsStagingName(name) || staged.count(name)) continue;
            Entry entry = EntryAt(held.folder(), name, DELETE, kShareAll);
            const bool removable = entry.state == EntryState::File ||
                                   (entry.state == EntryState::Link && wide_ops::IsLink(entry.info.attributes));
            if (removable && wide_ops::DeleteOpenFile(entry.handle.get())) ++removals;
        }
    }

    // With `removals`, each folder reached (the root included) is swept
    // first, and what it removes is counted there.
    Walk walk(const Text& relative, bool create, bool wholePath = false, std::uint64_t* removals = nullptr) {
        Walk walk;
        std::vector<std::wstring> parts;
        if (!Components(relative, parts)) {
            walk.blocked = EntryState::Other;
            return walk;
        }
        const std::size_t folders = wholePath ? parts.size() : parts.size() - 1;
        std::size_t kept = 0;
        while (kept < chain.size() && kept < folders && chain[kept].component == parts[kept]) ++kept;
        chain.erase(chain.begin() + static_cast<std::ptrdiff_t>(kept), chain.end());
        if (!rootFolder.handle.valid()) return walk;
        if (removals) sweep(rootFolder, *removals);
        for (std::size_t i = 0; removals && i < kept; ++i) sweep(chain[i], *removals);
        for (std::size_t i = kept; i < folders; ++i) {
            Entry next = nt_folders::FolderAt(heldAt(i).folder(), parts[i], create, rootVolume);
            if (next.state != EntryState::Folder) {
                walk.blocked = Blocking(next.state);
                return walk;
            }
            chain.push_back(Held{parts[i], std::move(next.handle), std::move(next.name), next.info.fileId});
            if (removals) sweep(chain.back(), *removals);
        }
        if (create)
            for (std::size_t i = 0; i < folders; ++i) walked.insert(chain[i].id);
        walk.depth = folders;
        walk.name = wholePath ? std::wstring() : parts.back();
        walk.complete = true;
        return walk;
    }

    Entry entryAt(const Walk& walk, DWORD access, DWORD share, DWORD options = 0) const {
        return EntryAt(heldAt(walk.depth).folder(), walk.name, access, share, options);
    }
};

TargetTree::TargetTree(const Text& root, RootPath rootPath) : state_(std::make_unique<State>()) {
    state_->root = root;
    state_->rootPath = rootPath;
}

TargetTree::~TargetTree() = default;

bool TargetTree::open(bool create) {
    State& s = *state_;
    if (s.rootFolder.handle.valid()) return true;
    s.linkOnTheWay.clear();
    std::wstring wide;
    if (s.root.empty() || !WideFromText(s.root, wide)) return false;
    // The root's path as the caller named it, made whole once.
    std::wstring full(32768, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) return false;
    full.resize(length);
    if (s.rootPath == RootPath::AsNamed) full = Followed(full);
    std::vector<Handle> levels;
    std::size_t linkEnd = 0;
    if (!HoldLevels(full, create, levels, linkEnd)) {
        if (linkEnd != 0) s.linkOnTheWay = Narrow(full.substr(0, linkEnd));
        return false;
    }
    Handle root = std::move(levels.back());
    levels.pop_back();
    EntryInfo info;
    std::wstring name;
    if (!wide_ops::QueryEntry(root.get(), info, true) || !wide_ops::HandleName(root.get(), name)) return false;
    s.above = std::move(levels);
    s.rootVolume = nt_folders::VolumeOf(root.get());
    s.rootFolder = State::Held{std::wstring(), std::move(root), std::move(name), info.fileId};
    return true;
}

const Text& TargetTree::linkOnTheWay() const { return state_->linkOnTheWay; }

void TargetTree::removeLeftovers() {
    const State& s = *state_;
    if (s.rootFolder.handle.valid()) removals_ += nt_folders::RemoveLeftoverAsides(s.rootFolder.folder(), s.rootVolume);
}

bool TargetTree::opened() const { return state_->rootFolder.handle.valid(); }

bool TargetTree::rootInPlace() const {
    // Every level of its path is held without delete sharing: none can be
    // renamed, removed or swapped for a link while the tree lives.
    return state_->rootFolder.handle.valid();
}

bool TargetTree::identify(const FileHandle& file, FileIdentity& identity) const {
    EntryInfo info;
    if (!wide_ops::QueryEntry(Native(file), info, true)) return false;
    identity = IdentityOf(info, state_->rootVolume);
    return true;
}

bool TargetTree::makeFolders(const Text& folder) {
    State& s = *state_;
    if (!folder.empty()) return s.walk(folder, true, true, &removals_).complete;
    if (s.rootFolder.handle.valid()) s.sweep(s.rootFolder, removals_);
    return true;
}

bool TargetTree::walkedThrough(const FileIdentity& folder) const {
    return folder.volume == state_->rootVolume && state_->walked.count(folder.file) != 0;
}

EntryState TargetTree::look(const Text& path, FileHandle* readable, FileIdentity* identity) {
    State& s = *state_;
    const State::Walk walk = s.walk(path, false);
    if (!walk.complete) return walk.blocked;
    Entry entry = s.entryAt(walk, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    const bool read = entry.state != EntryState::Other;
    if (!read) entry = s.entryAt(walk, 0, kShareAll);  // in use: what it is, unread
    if (entry.state == EntryState::Folder && nt_folders::VolumeOf(entry.handle.get()) != s.rootVolume)
        return EntryState::Link;  // a mount point
    if (entry.state != EntryState::File && entry.state != EntryState::Folder) return entry.state;
    if (entry.state == EntryState::File && !read) return EntryState::File;  // a file that refuses reading
    if (identity) {
        *identity = IdentityOf(entry.info, s.rootVolume);
        // Opened with GENERIC_READ, which holds READ_CONTROL.
        identity->ownedByTrusted = entry.state == EntryState::File && OwnedByTrusted(entry.handle.get());
    }
    if (readable && entry.state == EntryState::File)
        *readable = FileHandle(reinterpret_cast<std::intptr_t>(entry.handle.release()));
    return entry.state;
}

StagedFile TargetTree::stage(const Text& path) {
    StagedFile staged;
    State& s = *state_;
    const State::Walk walk = s.walk(path, false, false, &removals_);
    if (!walk.complete) return staged;
    auto state = std::make_unique<StagedFile::State>();
    const State::Held& parent = s.heldAt(walk.depth);
    HANDLE own = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), parent.handle.get(), GetCurrentProcess(), &own, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return staged;
    state->parent = Handle(own);
    state->parentName = parent.name;
    state->name = walk.name;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::wstring name = nt_folders::RandomName(L".vantel-", L".tmp");
        if (name.empty()) break;
        s.staged.insert(name);
        Handle file;
        const long status = nt_folders::OpenAt(state->parent.get(), name, GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                               FILE_CREATE, FILE_NON_DIRECTORY_FILE, file);
        if (status >= 0) {
            // Gone with its last handle until the commit, so a run that dies leaves nothing.
            nt_folders::MarkForDeletion(file.get(), true);
            state->file = FileHandle(reinterpret_cast<std::intptr_t>(file.release()));
            staged.state_ = std::move(state);
            break;
        }
        if (!nt_folders::Collision(status)) break;
    }
    return staged;
}

bool TargetTree::commit(StagedFile& staged) {
    if (!staged.valid() || staged.state_->committed) return false;
    StagedFile::State& s = *staged.state_;
    bool replace = false, otherNames = false;
    {
        const Entry there = EntryAt(s.folder(), s.name, 0, kShareAll);
        // What refuses a writer stays: a read-only, hidden or system file (Wine
        // running as root would replace one), and anything that is no file.
        constexpr DWORD kRefused = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        if (there.state != EntryState::Missing &&
            (there.state != EntryState::File || (there.info.attributes & kRefused) != 0))
            return false;
        replace = there.state == EntryState::File;
        otherNames = replace && there.info.links > 1;
    }  // closed: the system replaces no file that is open, ours included
    // A file marked for deletion takes no name; marked again when the rename is refused.
    if (!nt_folders::MarkForDeletion(Native(s.file), false)) return false;
    if (!nt_folders::RenameAt(Native(s.file), s.parent.get(), s.name, replace)) {
        nt_folders::MarkForDeletion(Native(s.file), true);
        return false;
    }
    s.committed = true;
    if (otherNames) ++removals_;
    return true;
}

std::vector<Text> TargetTree::leftovers() {
    const State& s = *state_;
    std::vector<std::wstring> wide;
    if (s.rootFolder.handle.valid()) FindLeftovers(s.rootFolder.folder(), s.rootVolume, std::wstring(), 0, wide);
    std::sort(wide.begin(), wide.end());
    std::vector<Text> found;
    for (const std::wstring& path : wide) found.push_back(Narrow(path));
    return found;
}

void TargetTree::clearAttributes(const Text& path) {
    State& s = *state_;
    const State::Walk walk = s.walk(path, false);
    if (!walk.complete) return;
    const Entry entry = s.entryAt(walk, FILE_WRITE_ATTRIBUTES, kShareAll);
    if (entry.state != EntryState::Folder && (entry.state != EntryState::File || entry.info.links != 1)) return;
    // Checked on the handle, after it was opened: a file with no other name
    // than this one, still here, is no one else's.
    const Entry there = s.entryAt(walk, 0, kShareAll);
    if (there.state != entry.state || there.info.fileId != entry.info.fileId) return;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    SetFileInformationByHandle(entry.handle.get(), FileBasicInfo, &basic, sizeof basic);
}

bool TargetTree::remove(const Text& path) {
    // The walk holds only the folders above the path: a folder removed here is not held.
    State& s = *state_;
    const State::Walk walk = s.walk(path, false);
    if (!walk.complete) return walk.blocked == EntryState::Missing;
    const Folder parent = s.heldAt(walk.depth).folder();
    {
        Entry entry = EntryAt(parent, walk.name, DELETE, kShareAll);
        if (entry.state == EntryState::Missing) return true;
        ++removals_;
        if (entry.state == EntryState::File ||
            (entry.state == EntryState::Link && wide_ops::IsLink(entry.info.attributes))) {
            wide_ops::DeleteOpenFile(entry.handle.get());  // a link goes itself; what it names stays
        } else if (entry.state == EntryState::Folder) {
            entry = Entry();
            Entry folder = nt_folders::FolderAt(parent, walk.name, false, s.rootVolume, DELETE);
            if (folder.state == EntryState::Folder) {
                nt_folders::ClearFolderAt(folder.folder(), s.rootVolume);
                wide_ops::DeleteOpenFile(folder.handle.get());
            }
        }
    }  // closed: the name goes with the last handle
    return EntryAt(parent, walk.name, 0, kShareAll).state == EntryState::Missing;
}

bool TargetTree::forceRemove(const Text& path) {
    State& s = *state_;
    const State::Walk walk = s.walk(path, false);
    if (!walk.complete) return walk.blocked == EntryState::Missing;
    const Folder parent = s.heldAt(walk.depth).folder();
    {
        Entry entry = EntryAt(parent, walk.name, DELETE, kShareAll);
        if (entry.state == EntryState::Missing) return true;
        // Only files are moved out of the way: a link could move what it names.
        if (entry.state != EntryState::File) return false;
        ++removals_;
        // Moved into a work folder under the root: on the file's own volume.
        nt_folders::Aside aside;
        if (!wide_ops::DeleteOpenFile(entry.handle.get()) &&
            nt_folders::MoveAside(std::move(entry.handle), s.rootFolder.folder(), aside))
            s.asides.push_back(std::move(aside));
    }
    return EntryAt(parent, walk.name, 0, kShareAll).state == EntryState::Missing;
}
