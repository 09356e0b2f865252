#pragma once
// Plain POSIX helpers of the extraction fuzz targets: sandboxes laid out
// afresh for each input and snapshots of everything in them. They must not
// rely on the code they watch.
#include <sys/types.h>

#include <map>
#include <string>

struct Node {
    char kind = 0;  // 'd' folder, 'f' file, 'l' link, 'o' anything else
    mode_t mode = 0;
    std::string contents;  // a file's bytes, a link's target
    nlink_t links = 0;     // files only: names the file has
    bool operator==(const Node&) const = default;
};
// Relative POSIX path to what is there; links are listed, never followed.
using Tree = std::map<std::string, Node>;

void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);
// Folders get their write permission back first: a record may have made one read-only.
void RemoveTree(const std::string& path);
Tree Snapshot(const std::string& root);
bool Below(const std::string& path, const std::string& folder);
// The folder sandboxes go in (/dev/shm when there is one), cleared of
// those left by fuzzing processes that ended.
std::string SandboxBase();
