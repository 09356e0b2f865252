#include "payload/posix_folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace posix_folders {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

Fd::~Fd() {
    if (fd_ >= 0) close(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        Fd old(fd_);
        fd_ = other.release();
    }
    return *this;
}

bool StatAt(int folder, const char* name, EntryStat& out) {
    struct statx x {};
    const int flags = AT_SYMLINK_NOFOLLOW | (*name ? 0 : AT_EMPTY_PATH);
    if (statx(folder, name, flags, STATX_BASIC_STATS | STATX_MNT_ID, &x) != 0) {
        out.mount = 0;
        return errno == ENOSYS && fstatat(folder, name, &out.st, flags) == 0;
    }
    out.st = {};
    out.st.st_dev = makedev(x.stx_dev_major, x.stx_dev_minor);
    out.st.st_ino = x.stx_ino;
    out.st.st_mode = x.stx_mode;
    out.st.st_nlink = x.stx_nlink;
    out.st.st_uid = x.stx_uid;
    out.st.st_size = static_cast<off_t>(x.stx_size);
    out.mount = (x.stx_mask & STATX_MNT_ID) ? x.stx_mnt_id : 0;
    return true;
}

std::vector<std::string> NamesIn(int folder) {
    std::vector<std::string> names;
    // A description of its own: a duplicate would share the position of an earlier listing.
    const int listing = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0) close(listing);
        return names;
    }
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
}

Fd OpenFolderAt(int parent, const char* name) { return Fd(openat(parent, name, kFolderFlags)); }

void ClearFolderAt(int folder) {
    EntryStat self;
    if (!StatAt(folder, "", self)) return;
    for (const std::string& name : NamesIn(folder)) {
        EntryStat entry;
        if (!StatAt(folder, name.c_str(), entry) || !entry.sameMount(self)) continue;  // what is mounted is not ours
        if (!S_ISDIR(entry.st.st_mode)) {
            unlinkat(folder, name.c_str(), 0);
            continue;
        }
        Fd inner = OpenFolderAt(folder, name.c_str());
        EntryStat opened;
        if (!inner.valid() || !StatAt(inner.get(), "", opened) || !opened.sameFile(entry) || !opened.sameMount(self))
            continue;
        ClearFolderAt(inner.get());
        unlinkat(folder, name.c_str(), AT_REMOVEDIR);
    }
}

std::string RandomHex(std::size_t bytes) {
    std::vector<unsigned char> random(bytes);
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = getrandom(random.data() + got, bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::string();
        got += static_cast<std::size_t>(n);
    }
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : random) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

bool IsAsideName(const std::string& name) {
    const std::size_t prefix = sizeof kAsidePrefix - 1;
    return name.size() == prefix + 16 && name.compare(0, prefix, kAsidePrefix) == 0 &&
           name.find_first_not_of("0123456789abcdef", prefix) == std::string::npos;
}

bool MoveAside(int parent, const char* name, int place) {
    // A fresh folder under a name no one could plant anything at beforehand.
    std::string work;
    for (int attempt = 0; attempt < 8 && work.empty(); ++attempt) {
        const std::string hex = RandomHex(8);
        if (hex.empty()) return false;
        if (mkdirat(place, (kAsidePrefix + hex).c_str(), 0700) == 0)
            work = kAsidePrefix + hex;
        else if (errno != EEXIST)
            return false;
    }
    if (work.empty()) return false;
    // Still the folder just made: a real one, ours alone.
    Fd folder = OpenFolderAt(place, work.c_str());
    struct stat st;
    const bool moved = folder.valid() && fstat(folder.get(), &st) == 0 && st.st_uid == geteuid() &&
                       (st.st_mode & 077) == 0 && renameat(parent, name, folder.get(), "TemporaryFile") == 0;
    if (moved) unlinkat(folder.get(), "TemporaryFile", 0);
    unlinkat(place, work.c_str(), AT_REMOVEDIR);  // only when empty
    return moved;
}

std::size_t RemoveLeftoverAsides(int folder) {
    EntryStat self;
    if (!StatAt(folder, "", self)) return 0;
    std::size_t removed = 0;
    for (const std::string& name : NamesIn(folder)) {
        EntryStat entry, opened;
        if (!IsAsideName(name) || !StatAt(folder, name.c_str(), entry) || !S_ISDIR(entry.st.st_mode) ||
            !entry.sameMount(self))
            continue;
        Fd work = OpenFolderAt(folder, name.c_str());
        if (!work.valid() || !StatAt(work.get(), "", opened) || !opened.sameFile(entry)) continue;
        ClearFolderAt(work.get());
        if (unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0) ++removed;
    }
    return removed;
}

}  // namespace posix_folders
