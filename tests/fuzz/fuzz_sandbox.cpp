#include "fuzz_sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "fuzz_check.h"

namespace {

template <typename Visit>
void ForEachName(const std::string& folder, Visit visit) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") visit(name);
    }
    closedir(dir);
}

void Scan(const std::string& root, const std::string& relative, Tree& tree) {
    ForEachName(root + "/" + relative, [&](const std::string& name) {
        const std::string path = relative.empty() ? name : relative + "/" + name;
        const std::string full = root + "/" + path;
        struct stat st;
        if (lstat(full.c_str(), &st) != 0) return;
        Node node;
        node.mode = st.st_mode;
        if (S_ISDIR(st.st_mode)) {
            node.kind = 'd';
        } else if (S_ISREG(st.st_mode)) {
            node.kind = 'f';
            node.contents = ReadFile(full);
            node.links = st.st_nlink;
        } else if (S_ISLNK(st.st_mode)) {
            node.kind = 'l';
            char target[4096];
            const ssize_t n = readlink(full.c_str(), target, sizeof target);
            node.contents.assign(target, n > 0 ? static_cast<std::size_t>(n) : 0);
        } else {
            node.kind = 'o';
        }
        tree[path] = node;
        if (node.kind == 'd') Scan(root, path, tree);
    });
}

}  // namespace

void WriteFile(const std::string& path, const std::string& contents) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    if (fd >= 0) close(fd);
    if (!ok) FuzzFailure("cannot lay out the sandbox", path.c_str());
}

std::string ReadFile(const std::string& path) {
    std::string contents;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "<unreadable>";
    char chunk[65536];
    for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;) contents.append(chunk, static_cast<std::size_t>(got));
    close(fd);
    return contents;
}

void RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        unlink(path.c_str());
        return;
    }
    chmod(path.c_str(), 0700);
    ForEachName(path, [&](const std::string& name) { RemoveTree(path + "/" + name); });
    rmdir(path.c_str());
}

Tree Snapshot(const std::string& root) {
    Tree tree;
    Scan(root, "", tree);
    return tree;
}

bool Below(const std::string& path, const std::string& folder) {
    return path.compare(0, folder.size() + 1, folder + "/") == 0;
}

std::string SandboxBase() {
    struct stat st;
    const char* tmp = std::getenv("TMPDIR");
    std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : tmp && *tmp ? tmp : "/tmp";
    const std::string prefix = "vantel-fuzz-";
    ForEachName(base, [&](const std::string& name) {
        if (name.compare(0, prefix.size(), prefix) != 0) return;
        const std::size_t digits = name.find_first_of("0123456789", prefix.size());
        long pid = digits == std::string::npos ? 0 : std::strtol(name.c_str() + digits, nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) RemoveTree(base + "/" + name);
    });
    return base;
}
