// The fence replaces the C library's path-taking write calls for the whole
// program and forwards to the system calls directly.
#include "write_fence.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::string g_sandbox;
bool g_armed = false;

// The absolute path with ".", ".." and repeated "/" resolved by name; the
// sandbox holds no links, so this is where the call would land.
std::string Resolve(int dirfd, const char* path) {
    std::string full = path ? path : "";
    if (full.empty() || full[0] != '/') {
        char base[4096] = {0};
        if (dirfd == AT_FDCWD) {
            if (!getcwd(base, sizeof base - 1)) return std::string();
        } else {
            std::string link = "/proc/self/fd/" + std::to_string(dirfd);
            if (readlink(link.c_str(), base, sizeof base - 1) <= 0) return std::string();
        }
        full = std::string(base) + "/" + full;
    }
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= full.size()) {
        std::size_t end = full.find('/', at);
        if (end == std::string::npos) end = full.size();
        std::string part = full.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string resolved;
    for (const std::string& part : parts) resolved += "/" + part;
    return resolved.empty() ? "/" : resolved;
}

bool InSandbox(int dirfd, const char* path) {
    const std::string resolved = Resolve(dirfd, path);
    return resolved == g_sandbox || resolved.compare(0, g_sandbox.size() + 1, g_sandbox + "/") == 0;
}

void Check(const char* call, int dirfd, const char* path) {
    if (!g_armed || InSandbox(dirfd, path)) return;
    std::fprintf(stderr, "write fence: %s(\"%s\") is outside the sandbox %s\n", call, path ? path : "(null)",
                 g_sandbox.c_str());
    std::fflush(stderr);
    std::abort();
}

bool ExistingFolder(int dirfd, const char* path) {
    struct stat st;
    return fstatat(dirfd, path, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

int Open(const char* call, int dirfd, const char* path, int flags, mode_t mode) {
    if (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) Check(call, dirfd, path);
    return static_cast<int>(syscall(SYS_openat, dirfd, path, flags, mode));
}

int MakeFolder(const char* call, int dirfd, const char* path, mode_t mode) {
    if (g_armed && !ExistingFolder(dirfd, path)) Check(call, dirfd, path);
    return static_cast<int>(syscall(SYS_mkdirat, dirfd, path, mode));
}

mode_t ModeArgument(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

// Calls on an open file: checked by where the file is.
void CheckFd(const char* call, int fd) {
    if (!g_armed) return;
    char path[4096] = {0};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    if (readlink(link.c_str(), path, sizeof path - 1) <= 0) return;
    Check(call, AT_FDCWD, path);
}

}  // namespace

void ArmWriteFence(const std::string& sandbox) {
    g_sandbox = sandbox;
    g_armed = true;
}

void DisarmWriteFence() { g_armed = false; }

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return Open("open", AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return Open("open64", AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return Open("openat", dirfd, path, flags, mode);
}

int creat(const char* path, mode_t mode) { return Open("creat", AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode); }

int unlinkat(int dirfd, const char* path, int flags) {
    Check("unlinkat", dirfd, path);
    return static_cast<int>(syscall(SYS_unlinkat, dirfd, path, flags));
}

int unlink(const char* path) { return unlinkat(AT_FDCWD, path, 0); }
int rmdir(const char* path) { return unlinkat(AT_FDCWD, path, AT_REMOVEDIR); }

int remove(const char* path) {
    if (unlink(path) == 0) return 0;
    return errno == EISDIR ? rmdir(path) : -1;
}

int renameat(int fromfd, const char* from, int tofd, const char* to) {
    Check("rename", fromfd, from);
    Check("rename", tofd, to);
    return static_cast<int>(syscall(SYS_renameat, fromfd, from, tofd, to));
}

int rename(const char* from, const char* to) { return renameat(AT_FDCWD, from, AT_FDCWD, to); }

int mkdirat(int dirfd, const char* path, mode_t mode) { return MakeFolder("mkdirat", dirfd, path, mode); }
int mkdir(const char* path, mode_t mode) { return MakeFolder("mkdir", AT_FDCWD, path, mode); }

int fchmodat(int dirfd, const char* path, mode_t mode, int) {
    Check("chmod", dirfd, path);
    return static_cast<int>(syscall(SYS_fchmodat, dirfd, path, mode));
}

int chmod(const char* path, mode_t mode) { return fchmodat(AT_FDCWD, path, mode, 0); }

int fchmod(int fd, mode_t mode) {
    CheckFd("fchmod", fd);
    return static_cast<int>(syscall(SYS_fchmod, fd, mode));
}

int ftruncate(int fd, off_t length) {
    CheckFd("ftruncate", fd);
    return static_cast<int>(syscall(SYS_ftruncate, fd, length));
}

int truncate(const char* path, off_t length) {
    Check("truncate", AT_FDCWD, path);
    return static_cast<int>(syscall(SYS_truncate, path, length));
}

int symlink(const char* target, const char* path) {
    Check("symlink", AT_FDCWD, path);
    return static_cast<int>(syscall(SYS_symlinkat, target, AT_FDCWD, path));
}

int linkat(int fromfd, const char* from, int tofd, const char* to, int flags) {
    Check("linkat", tofd, to);
    return static_cast<int>(syscall(SYS_linkat, fromfd, from, tofd, to, flags));
}

int link(const char* from, const char* to) {
    Check("link", AT_FDCWD, to);
    return static_cast<int>(syscall(SYS_linkat, AT_FDCWD, from, AT_FDCWD, to, 0));
}

}  // extern "C"
