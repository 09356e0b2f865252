// POSIX side of the target tree: every step is an *at() call relative to a
// folder already held, nothing below the root is opened following a link
// (O_NOFOLLOW; statx with AT_SYMLINK_NOFOLLOW), and every entry reached
// must lie on the root's device and mount: a mount point is a link.
#include "payload/target_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "payload/posix_folders.h"
#include "system/posix_path.h"

using posix_folders::EntryStat;
using posix_folders::Fd;
using posix_folders::OpenFolderAt;
using posix_folders::StatAt;

namespace {

// The components as the file system names them; false for an empty, "."
// or ".." component or a text that does not convert.
bool Components(const std::string& native, std::vector<std::string>& parts) {
    if (native.empty()) return false;
    for (std::size_t at = 0;;) {
        std::size_t end = native.find('/', at);
        if (end == std::string::npos) end = native.size();
        std::string part = native.substr(at, end - at);
        if (part.empty() || part == "." || part == "..") return false;
        parts.push_back(std::move(part));
        if (end == native.size()) return true;
        at = end + 1;
    }
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

using Key = std::pair<std::uint64_t, std::uint64_t>;
Key KeyOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// What an entry is, as a step below the root sees it: a folder or a file
// on another mount is a mount point, which counts as a link.
EntryState StateOf(const EntryStat& entry, const EntryStat& root) {
    const mode_t mode = entry.st.st_mode;
    if (S_ISLNK(mode) || !entry.sameMount(root)) return EntryState::Link;
    if (S_ISDIR(mode)) return EntryState::Folder;
    return S_ISREG(mode) ? EntryState::File : EntryState::Other;
}

// What lies beyond an entry on the way that is no folder: nothing below a
// file, nothing reachable below a link.
EntryState Blocking(EntryState onTheWay) {
    if (onTheWay == EntryState::File || onTheWay == EntryState::Missing) return EntryState::Missing;
    return onTheWay == EntryState::Link ? EntryState::Link : EntryState::Other;
}

// Owned by root or the running user: no other user can take the file over.
bool TrustedOwner(const struct stat& st) { return st.st_uid == 0 || st.st_uid == geteuid(); }

FileIdentity IdentityOf(const struct stat& st) {
    FileIdentity identity;
    identity.volume = static_cast<std::uint64_t>(st.st_dev);
    identity.file = static_cast<std::uint64_t>(st.st_ino);
    identity.size = static_cast<std::uint64_t>(st.st_size);
    identity.links = static_cast<std::uint32_t>(st.st_nlink);
    return identity;
}

// The folders of the caller's root path that exist, opened by that path,
// and below the deepest of them the rest, made and opened one by one.
Fd MakeFolderPath(const std::string& native) {
    const bool absolute = !native.empty() && native[0] == '/';
    std::vector<std::string> parts;
    std::string relative = native.substr(absolute ? 1 : 0);
    while (!relative.empty() && relative.back() == '/') relative.pop_back();
    if (!relative.empty() && !Components(relative, parts)) return Fd();
    std::size_t existing = parts.size();
    Fd base;
    for (;; --existing) {
        std::string prefix = absolute ? "/" : "";
        for (std::size_t i = 0; i < existing; ++i) prefix += parts[i] + (i + 1 < existing ? "/" : "");
        if (prefix.empty()) prefix = ".";
        base = Fd(open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (base.valid() || errno != ENOENT || existing == 0) break;
    }
    for (std::size_t i = existing; base.valid() && i < parts.size(); ++i) {
        mkdirat(base.get(), parts[i].c_str(), 0777);
        base = OpenFolderAt(base.get(), parts[i].c_str());
    }
    return base;
}

// Every level of the path from "/" (or the working folder) down, each
// opened, and with `create` made, relative to the one above, never
// through a link. Invalid at a level that is missing, refused or a link;
// `linkEnd` then ends the path at the link.
Fd StrictFolderPath(const std::string& native, bool create, std::size_t& linkEnd) {
    Fd base(::open(!native.empty() && native[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (std::size_t at = 0; base.valid() && at < native.size();) {
        const std::size_t end = std::min(native.find('/', at), native.size());
        const std::string part = native.substr(at, end - at);
        at = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return Fd();
        if (create) mkdirat(base.get(), part.c_str(), 0777);
        Fd next = OpenFolderAt(base.get(), part.c_str());
        EntryStat there;
        if (!next.valid() && StatAt(base.get(), part.c_str(), there) && S_ISLNK(there.st.st_mode)) linkEnd = end;
        base = std::move(next);
    }
    return base;
}

// A fresh staging name; empty when no random bytes come.
std::string StagingName() {
    const std::string digits = posix_folders::RandomHex(8);
    return digits.empty() ? std::string() : ".vantel-" + digits + ".tmp";
}

// Below this a record's path (260 bytes at most) cannot reach.
constexpr int kDeepestFolder = 130;

// The staging names in a held folder and in every folder below it on the
// same mount, as "/"-separated paths after `prefix`.
void FindLeftovers(int folder, const EntryStat& root, const std::string& prefix, int depth,
                   std::vector<std::string>& found) {
    for (const std::string& name : posix_folders::NamesIn(folder)) {
        EntryStat entry;
        if (!StatAt(folder, name.c_str(), entry) || !entry.sameMount(root)) continue;
        const mode_t mode = entry.st.st_mode;
        if (!S_ISDIR(mode)) {
            if ((S_ISREG(mode) || S_ISLNK(mode)) && IsStagingName(name)) found.push_back(prefix + name);
            continue;
        }
        if (depth >= kDeepestFolder) continue;
        Fd inner = OpenFolderAt(folder, name.c_str());
        EntryStat opened;
        if (inner.valid() && StatAt(inner.get(), "", opened) && opened.sameFile(entry) && opened.sameMount(root))
            FindLeftovers(inner.get(), root, prefix + name + "/", depth + 1, found);
    }
}

}  // namespace

struct StagedFile::State {
    Fd parent;
    std::string name;  // the name it is staged for
    std::string temporary;  // empty while an unnamed file has no name yet
    FileHandle file;
    bool unnamed = false;
    bool committed = false;

    // True while the temporary name still holds the file written.
    bool inPlace() const {
        struct stat atName, opened;
        return !temporary.empty() && fstatat(parent.get(), temporary.c_str(), &atName, AT_SYMLINK_NOFOLLOW) == 0 &&
               fstat(static_cast<int>(file.native()), &opened) == 0 && SameFile(atName, opened);
    }
    // Gives the unnamed file a fresh temporary name, never taking one that
    // exists. Through /proc first: a link by descriptor alone
    // (AT_EMPTY_PATH) needs a capability on older systems.
    bool link(std::set<std::string>& staged) {
        const int fd = static_cast<int>(file.native());
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        for (int attempt = 0; attempt < 8; ++attempt) {
            const std::string candidate = StagingName();
            if (candidate.empty()) return false;
            staged.insert(candidate);
            int linked = linkat(AT_FDCWD, self.c_str(), parent.get(), candidate.c_str(), AT_SYMLINK_FOLLOW);
            if (linked != 0 && errno != EEXIST)
                linked = linkat(fd, "", parent.get(), candidate.c_str(), AT_EMPTY_PATH);
            if (linked == 0) {
                temporary = candidate;
                return true;
            }
            if (errno != EEXIST) return false;
        }
        return false;
    }
    ~State() {
        if (!committed && file.valid() && inPlace()) unlinkat(parent.get(), temporary.c_str(), 0);
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
    std::string nativeRoot;
    RootPath rootPath = RootPath::Strict;
    Text linkOnTheWay;
    Fd rootFd;
    EntryStat rootStat;
    std::set<Key> walked;  // folders makeFolders went through
    std::set<Key> swept;   // folders cleared of earlier runs' staging files
    std::set<std::string> staged;  // staging names this tree gave, never swept

    // The folders from the root down to the one holding the last component.
    struct Walk {
        std::vector<Fd> folders;
        std::string name;
        EntryState blocked = EntryState::Missing;  // what stopped the walk
        bool complete = false;
        int parent(int root) const { return folders.empty() ? root : folders.back().get(); }
    };

    // Removes the staging files earlier runs left in a held folder, once:
    // a file or a link (only the link) of a staging name, never a folder.
    void sweep(int folder, const EntryStat& self, std::uint64_t& removals) {
        if (!swept.insert(KeyOf(self.st)).second) return;
        for (const std::string& name : posix_folders::NamesIn(folder)) {
            if (!IsStagingName(name) || staged.count(name)) continue;
            EntryStat entry;
            if (!StatAt(folder, name.c_str(), entry) || !entry.sameMount(self)) continue;
            const mode_t mode = entry.st.st_mode;
            if ((S_ISREG(mode) || S_ISLNK(mode)) && unlinkat(folder, name.c_str(), 0) == 0) ++removals;
        }
    }

    // With `removals`, each folder reached (the root included) is swept
    // first, and what it removes is counted there.
    Walk walk(const Text& relative, bool create, bool wholePath = false, std::uint64_t* removals = nullptr) {
        Walk walk;
        std::vector<std::string> parts;
        if (!Components(ToPosixPath(relative), parts)) {
            walk.blocked = EntryState::Other;
            return walk;
        }
        if (!rootFd.valid()) return walk;
        const std::size_t folders = wholePath ? parts.size() : parts.size() - 1;
        if (removals) sweep(rootFd.get(), rootStat, *removals);
        int at = rootFd.get();
        for (std::size_t i = 0; i < folders; ++i) {
            const char* name = parts[i].c_str();
            Fd next = OpenFolderAt(at, name);
            if (!next.valid() && errno == ENOENT && create) {
                mkdirat(at, name, 0777);
                next = OpenFolderAt(at, name);
            }
            EntryStat opened;
            if (!next.valid() || !StatAt(next.get(), "", opened) || !opened.sameMount(rootStat)) {
                walk.blocked = next.valid() ? EntryState::Link : Blocking(stateAt(at, name));
                return walk;
            }
            if (create) walked.insert(KeyOf(opened.st));
            if (removals) sweep(next.get(), opened, *removals);
            at = next.get();
            walk.folders.push_back(std::move(next));
        }
        walk.name = wholePath ? std::string() : parts.back();
        walk.complete = true;
        return walk;
    }

    EntryState stateAt(int folder, const std::string& name, struct stat* out = nullptr) const {
        EntryStat entry;
        if (!StatAt(folder, name.c_str(), entry)) return EntryState::Missing;
        if (out) *out = entry.st;
        return StateOf(entry, rootStat);
    }
};

TargetTree::TargetTree(const Text& root, RootPath rootPath) : state_(std::make_unique<State>()) {
    state_->root = root;
    state_->rootPath = rootPath;
    state_->nativeRoot = ToPosixPath(root);
}

TargetTree::~TargetTree() = default;

bool TargetTree::open(bool create) {
    State& s = *state_;
    if (s.rootFd.valid()) return true;
    s.linkOnTheWay.clear();
    if (s.nativeRoot.empty()) return false;
    std::size_t linkEnd = 0;
    Fd root;
    if (s.rootPath == RootPath::Strict) {
        root = StrictFolderPath(s.nativeRoot, create, linkEnd);
    } else {
        root = create ? MakeFolderPath(s.nativeRoot)
                      : Fd(::open(s.nativeRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (linkEnd != 0) s.linkOnTheWay = FromPosixPath(s.nativeRoot.substr(0, linkEnd));
    if (!root.valid() || !StatAt(root.get(), "", s.rootStat)) return false;
    s.rootFd = std::move(root);
    return true;
}

const Text& TargetTree::linkOnTheWay() const { return state_->linkOnTheWay; }

void TargetTree::removeLeftovers() {
    if (state_->rootFd.valid()) removals_ += posix_folders::RemoveLeftoverAsides(state_->rootFd.get());
}

bool TargetTree::opened() const { return state_->rootFd.valid(); }

bool TargetTree::identify(const FileHandle& file, FileIdentity& identity) const {
    return openFileIdentity(file, identity);
}

bool TargetTree::rootInPlace() const {
    struct stat st;
    const std::string& native = state_->nativeRoot;
    return state_->rootFd.valid() && !native.empty() && stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           SameFile(st, state_->rootStat.st);
}

bool TargetTree::makeFolders(const Text& folder) {
    State& s = *state_;
    if (!folder.empty()) return s.walk(folder, true, true, &removals_).complete;
    if (s.rootFd.valid()) s.sweep(s.rootFd.get(), s.rootStat, removals_);
    return true;
}

bool TargetTree::walkedThrough(const FileIdentity& folder) const {
    return state_->walked.count({folder.volume, folder.file}) != 0;
}

EntryState TargetTree::look(const Text& path, FileHandle* readable, FileIdentity* identity) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return walk.blocked;
    const int parent = walk.parent(state_->rootFd.get());
    struct stat st;
    const EntryState state = state_->stateAt(parent, walk.name, &st);
    if (state == EntryState::Folder && identity) *identity = IdentityOf(st);
    if (state != EntryState::File) return state;
    // Opened only once it is known to be a file: a device is never opened.
    FileHandle file(openat(parent, walk.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened;
    if (!file.valid()) return EntryState::File;  // a file that refuses reading
    if (fstat(static_cast<int>(file.native()), &opened) != 0 || !SameFile(opened, st)) return EntryState::Other;
    fcntl(static_cast<int>(file.native()), F_SETFL, 0);
    if (identity && identify(file, *identity)) identity->ownedByTrusted = TrustedOwner(opened);
    if (readable) *readable = std::move(file);
    return EntryState::File;
}

StagedFile TargetTree::stage(const Text& path) {
    StagedFile staged;
    State::Walk walk = state_->walk(path, false, false, &removals_);
    if (!walk.complete) return staged;
    auto state = std::make_unique<StagedFile::State>();
    state->parent = Fd(dup(walk.parent(state_->rootFd.get())));
    state->name = walk.name;
    if (!state->parent.valid()) return staged;
    // Unnamed until the commit, so a run that dies leaves nothing.
    state->file = FileHandle(openat(state->parent.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    state->unnamed = state->file.valid();
    // A file system without unnamed files: a fresh name, swept by a later run.
    const bool refused = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
    for (int attempt = 0; attempt < 8 && !state->file.valid() && refused; ++attempt) {
        state->temporary = StagingName();
        if (state->temporary.empty()) break;
        state_->staged.insert(state->temporary);
        state->file = FileHandle(openat(state->parent.get(), state->temporary.c_str(),
                                        O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!state->file.valid() && errno != EEXIST) break;
    }
    if (state->file.valid()) staged.state_ = std::move(state);
    return staged;
}

bool TargetTree::commit(StagedFile& staged) {
    if (!staged.valid() || staged.state_->committed) return false;
    StagedFile::State& s = *staged.state_;
    const int parent = s.parent.get();
    struct stat there {};
    const EntryState state = state_->stateAt(parent, s.name, &there);
    // What refuses a writer stays: a read-only file, as on Windows, and
    // anything that is no file.
    if (state != EntryState::Missing && (state != EntryState::File || !(there.st_mode & S_IWUSR))) return false;
    // An unnamed file first takes a staging name of its own: a rename needs one.
    if (s.unnamed && !s.inPlace() && !s.link(state_->staged)) return false;
    if (!s.inPlace() || renameat(parent, s.temporary.c_str(), parent, s.name.c_str()) != 0) return false;
    s.committed = true;
    if (state == EntryState::File && there.st_nlink > 1) ++removals_;
    // The name must now hold the file written, not whatever took its temporary name.
    struct stat now, opened;
    return fstatat(parent, s.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           fstat(static_cast<int>(s.file.native()), &opened) == 0 && SameFile(now, opened);
}

std::vector<Text> TargetTree::leftovers() {
    std::vector<std::string> native;
    if (state_->rootFd.valid()) FindLeftovers(state_->rootFd.get(), state_->rootStat, std::string(), 0, native);
    std::sort(native.begin(), native.end());
    std::vector<Text> found;
    for (const std::string& path : native) {
        Text text = FromPosixPath(path);
        if (text.empty()) {  // a folder name with no GBK form: its bytes as they are
            text = path;
            std::replace(text.begin(), text.end(), '/', '\\');
        }
        found.push_back(std::move(text));
    }
    return found;
}

void TargetTree::clearAttributes(const Text& path) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return;
    const int parent = walk.parent(state_->rootFd.get());
    FileHandle entry(openat(parent, walk.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened, there {};
    if (!entry.valid() || fstat(static_cast<int>(entry.native()), &opened) != 0) return;
    // Checked on the handle, after it was opened: a file with no other
    // name than this one, still here, is no one else's.
    const EntryState state = state_->stateAt(parent, walk.name, &there);
    if (state == EntryState::Missing || !SameFile(opened, there)) return;
    if (state == EntryState::Folder || (state == EntryState::File && opened.st_nlink == 1))
        setOpenFileAttributes(entry, kAttributeArchive);
}

bool TargetTree::remove(const Text& path) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return walk.blocked == EntryState::Missing;
    const int parent = walk.parent(state_->rootFd.get());
    const char* name = walk.name.c_str();
    struct stat there;
    const EntryState state = state_->stateAt(parent, walk.name, &there);
    if (state == EntryState::Missing) return true;
    ++removals_;
    if (state == EntryState::Folder) {
        Fd folder = OpenFolderAt(parent, name);
        struct stat opened;
        if (folder.valid() && fstat(folder.get(), &opened) == 0 && SameFile(opened, there))
            posix_folders::ClearFolderAt(folder.get());
        unlinkat(parent, name, AT_REMOVEDIR);
    } else if (!S_ISDIR(there.st_mode)) {
        unlinkat(parent, name, 0);  // a link goes itself; what it names stays
    }
    return state_->stateAt(parent, walk.name) == EntryState::Missing;
}

bool TargetTree::forceRemove(const Text& path) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return walk.blocked == EntryState::Missing;
    const int parent = walk.parent(state_->rootFd.get());
    const char* name = walk.name.c_str();
    const EntryState state = state_->stateAt(parent, walk.name);
    if (state == EntryState::Missing) return true;
    // Only files are moved out of the way: a link could move what it names.
    if (state != EntryState::File && state != EntryState::Other) return false;
    ++removals_;
    if (unlinkat(parent, name, 0) == 0 || posix_folders::MoveAside(parent, name, state_->rootFd.get())) return true;
    return state_->stateAt(parent, walk.name) == EntryState::Missing;
}
