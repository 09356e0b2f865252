#include "process/directory.h"

#include <sys/stat.h>

#include <cerrno>

#include "system/posix_path.h"

namespace {

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool EnsureDirectoryPath(const Text& path) {
    Text directory = NormaliseDirectory(path);
    std::string native = ToPosixPath(directory);
    if (native.empty()) return false;
    // Create each level in turn, like the Windows routine does.
    for (std::size_t i = 1; i <= native.size(); ++i) {
        if (i != native.size() && native[i] != '/') continue;
        std::string level = native.substr(0, i);
        if (mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    return IsDirectory(native);
}
