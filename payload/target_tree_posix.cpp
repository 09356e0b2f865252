// POSIX side of the target tree: every step is an *at() call relative to a
// folder already opened, and nothing below the root is opened following a
// link (O_NOFOLLOW; fstatat with AT_SYMLINK_NOFOLLOW).
#include "payload/target_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "system/folders.h"
#include "system/posix_path.h"

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Fd old(fd_);
            fd_ = other.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The components as the file system names them; false for an empty, "."
// or ".." component or a text that does not convert.
bool Components(const Text& relative, std::vector<std::string>& parts) {
    const std::string native = ToPosixPath(relative);
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

EntryState StateAt(int folder, const std::string& name) {
    struct stat st;
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryState::Missing;
    if (S_ISLNK(st.st_mode)) return EntryState::Link;
    if (S_ISDIR(st.st_mode)) return EntryState::Folder;
    return S_ISREG(st.st_mode) ? EntryState::File : EntryState::Other;
}

// What lies beyond an entry on the way that is no folder: nothing below a
// file, nothing reachable below a link.
EntryState Blocking(EntryState onTheWay) {
    if (onTheWay == EntryState::File || onTheWay == EntryState::Missing) return EntryState::Missing;
    return onTheWay == EntryState::Link ? EntryState::Link : EntryState::Other;
}

// Everything inside a folder, depth first; links are removed, never entered.
void ClearFolderAt(int folder) {
    std::vector<std::string> names;
    const int listing = dup(folder);
    if (DIR* dir = listing >= 0 ? fdopendir(listing) : nullptr) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    } else if (listing >= 0) {
        close(listing);
    }
    for (const std::string& name : names) {
        Fd inner(openat(folder, name.c_str(), kFolderFlags));
        if (inner.valid()) {
            ClearFolderAt(inner.get());
            unlinkat(folder, name.c_str(), AT_REMOVEDIR);
        } else {
            unlinkat(folder, name.c_str(), 0);
        }
    }
}

unsigned long TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long>(
        static_cast<std::uint32_t>(now.tv_sec * 1000ull + static_cast<unsigned long long>(now.tv_nsec) / 1000000ull));
}

}  // namespace

struct TargetTree::State {
    Text root;
    std::string nativeRoot;
    Fd rootFd;
    struct stat rootStat {};

    // The folders from the root down to the one holding the last component.
    struct Walk {
        std::vector<Fd> folders;
        std::string name;
        EntryState blocked = EntryState::Missing;  // what stopped the walk
        bool complete = false;
        int parent(int root) const { return folders.empty() ? root : folders.back().get(); }
    };

    Walk walk(const Text& relative, bool create, bool wholePath = false) const {
        Walk walk;
        std::vector<std::string> parts;
        if (!Components(relative, parts)) {
            walk.blocked = EntryState::Other;
            return walk;
        }
        if (!rootFd.valid()) return walk;
        const std::size_t folders = wholePath ? parts.size() : parts.size() - 1;
        int at = rootFd.get();
        for (std::size_t i = 0; i < folders; ++i) {
            Fd next(openat(at, parts[i].c_str(), kFolderFlags));
            if (!next.valid() && errno == ENOENT && create) {
                mkdirat(at, parts[i].c_str(), 0777);
                next = Fd(openat(at, parts[i].c_str(), kFolderFlags));
            }
            if (!next.valid()) {
                walk.blocked = Blocking(StateAt(at, parts[i]));
                return walk;
            }
            at = next.get();
            walk.folders.push_back(std::move(next));
        }
        walk.name = wholePath ? std::string() : parts.back();
        walk.complete = true;
        return walk;
    }
};

TargetTree::TargetTree(const Text& root) : state_(std::make_unique<State>()) {
    state_->root = root;
    state_->nativeRoot = ToPosixPath(root);
}

TargetTree::~TargetTree() = default;

bool TargetTree::open() {
    const std::string& native = state_->nativeRoot;
    state_->rootFd = Fd(native.empty() ? -1 : ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return state_->rootFd.valid() && fstat(state_->rootFd.get(), &state_->rootStat) == 0;
}

void TargetTree::close() { state_->rootFd = Fd(); }

bool TargetTree::identify(const FileHandle& file, FileIdentity& identity) const {
    return openFileIdentity(file, identity);
}

bool TargetTree::rootInPlace() const {
    struct stat st;
    const std::string& native = state_->nativeRoot;
    return state_->rootFd.valid() && !native.empty() && stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_dev == state_->rootStat.st_dev && st.st_ino == state_->rootStat.st_ino;
}

bool TargetTree::makeFolders(const Text& folder) { return folder.empty() || state_->walk(folder, true, true).complete; }

EntryState TargetTree::look(const Text& path, FileHandle* readable, FileIdentity* identity) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return walk.blocked;
    const int parent = walk.parent(state_->rootFd.get());
    FileHandle file(openat(parent, walk.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) return StateAt(parent, walk.name);  // a link, nothing, or a file that refuses reading
    struct stat st;
    if (fstat(static_cast<int>(file.native()), &st) != 0) return EntryState::Other;
    if (S_ISDIR(st.st_mode)) return EntryState::Folder;
    if (!S_ISREG(st.st_mode)) return EntryState::Other;
    fcntl(static_cast<int>(file.native()), F_SETFL, 0);
    if (identity) identify(file, *identity);
    if (readable) *readable = std::move(file);
    return EntryState::File;
}

FileHandle TargetTree::openForWrite(const Text& path) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return FileHandle();
    const int parent = walk.parent(state_->rootFd.get());
    const char* name = walk.name.c_str();
    // Not emptied yet: what is there is looked at first.
    FileHandle file(openat(parent, name, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
    struct stat st;
    if (!file.valid() || fstat(static_cast<int>(file.native()), &st) != 0 || !S_ISREG(st.st_mode)) return FileHandle();
    // A read-only file refuses writers, as it does on Windows.
    if (!(st.st_mode & S_IWUSR)) return FileHandle();
    if (st.st_nlink > 1) {
        file = FileHandle();
        if (unlinkat(parent, name, 0) != 0) return FileHandle();
        ++removals_;
        file = FileHandle(openat(parent, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        return file;
    }
    const int fd = static_cast<int>(file.native());
    if (ftruncate(fd, 0) != 0) return FileHandle();
    fcntl(fd, F_SETFL, 0);
    return file;
}

void TargetTree::clearAttributes(const Text& path) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return;
    FileHandle entry(openat(walk.parent(state_->rootFd.get()), walk.name.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!entry.valid() || fstat(static_cast<int>(entry.native()), &st) != 0) return;
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink == 1))
        setOpenFileAttributes(entry, kAttributeArchive);
}

bool TargetTree::remove(const Text& path) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return walk.blocked == EntryState::Missing;
    const int parent = walk.parent(state_->rootFd.get());
    const char* name = walk.name.c_str();
    const EntryState state = StateAt(parent, walk.name);
    if (state == EntryState::Missing) return true;
    ++removals_;
    if (state == EntryState::Folder) {
        Fd folder(openat(parent, name, kFolderFlags));
        if (folder.valid()) ClearFolderAt(folder.get());
        unlinkat(parent, name, AT_REMOVEDIR);
    } else {
        unlinkat(parent, name, 0);  // a link goes itself; what it names stays
    }
    return StateAt(parent, walk.name) == EntryState::Missing;
}

bool TargetTree::forceRemove(const Text& path) {
    State::Walk walk = state_->walk(path, false);
    if (!walk.complete) return walk.blocked == EntryState::Missing;
    const int parent = walk.parent(state_->rootFd.get());
    const char* name = walk.name.c_str();
    const EntryState state = StateAt(parent, walk.name);
    if (state == EntryState::Missing) return true;
    if (state == EntryState::Folder) return false;  // only files are moved out of the way
    ++removals_;
    if (unlinkat(parent, name, 0) == 0) return true;
    // Moved under the temporary folder, then removed there if it can be.
    const std::string work = ToPosixPath(TempDirectory() + "\\f" + std::to_string(TickCount()));
    if (!work.empty()) {
        mkdir(work.c_str(), 0700);
        Fd workFd(::open(work.c_str(), kFolderFlags));
        if (workFd.valid() && renameat(parent, name, workFd.get(), "TemporaryFile") == 0)
            unlinkat(workFd.get(), "TemporaryFile", 0);
        rmdir(work.c_str());
    }
    return StateAt(parent, walk.name) == EntryState::Missing;
}
