#pragma once
// POSIX folder work relative to held folder descriptors, shared by the
// file operations and the target tree: nothing is reached through a link
// or across a mount point, and nothing is looked up again by path.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace posix_folders {

// Closes a descriptor when it goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
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

// What an entry is, and on which mount it lies: a bind mount keeps its
// device, so only the mount tells that a step crosses one.
struct EntryStat {
    struct stat st {};
    std::uint64_t mount = 0;  // 0 where the system does not tell
    bool sameMount(const EntryStat& other) const {
        return st.st_dev == other.st.st_dev && (mount == 0 || other.mount == 0 || mount == other.mount);
    }
    bool sameFile(const EntryStat& other) const { return st.st_dev == other.st.st_dev && st.st_ino == other.st.st_ino; }
};
// `name` inside `folder`, never followed; an empty name is the folder itself.
bool StatAt(int folder, const char* name, EntryStat& out);

// The names in a held folder, "." and ".." left out; one listing.
std::vector<std::string> NamesIn(int folder);
// A real folder named `name` inside `parent`, never a link.
Fd OpenFolderAt(int parent, const char* name);
// Everything inside the folder, depth first; links are removed, never
// entered, and a folder on another device (a mount point) is left alone.
void ClearFolderAt(int folder);
// Work folders for held files: this prefix and 16 random hex digits.
constexpr char kAsidePrefix[] = ".vantel-aside-";
bool IsAsideName(const std::string& name);
// Moves `name` out of `parent` into a fresh work folder of this run's own
// made in `place`, a folder on its own volume, then deletes it there if it
// can, and the work folder with it when that is empty. True when `name` is
// gone from `parent`.
bool MoveAside(int parent, const char* name, int place);
// Removes the work folders an earlier run left in `folder` (a power cut):
// real folders of that name on its mount only, never a link. How many went.
std::size_t RemoveLeftoverAsides(int folder);
// Random bytes as hex, for names no one can guess.
std::string RandomHex(std::size_t bytes);

}  // namespace posix_folders
