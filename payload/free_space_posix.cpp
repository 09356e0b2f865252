#include <sys/statvfs.h>

#include <cerrno>

#include "payload/free_space.h"
#include "system/posix_path.h"

bool VolumeFreeBytes(const Text& folder, std::uint64_t& available) {
    struct statvfs st;
    if (statvfs(ToPosixPath(folder).c_str(), &st) != 0) return false;
    available = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    return true;
}

bool LastErrorIsDiskFull() { return errno == ENOSPC || errno == EDQUOT; }
