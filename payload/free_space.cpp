#include "payload/free_space.h"

#include "payload/archive_path.h"
#include "payload/file_ops.h"

namespace {

bool IsTop(const Text& folder) {
    return folder == "." || folder == "\\" || (folder.size() == 3 && folder[1] == ':' && folder[2] == '\\');
}

// The folder above; "." above a relative name, "\" above an absolute one,
// and a drive's root, not "C:" (which names the drive's current folder).
Text FolderAbove(const Text& folder) {
    const Text up = fileFolderPart(folder);
    if (up.empty()) return Text(folder[0] == '\\' ? "\\" : ".");
    return up.size() == 2 && up[1] == ':' ? up + "\\" : up;
}

}  // namespace

bool FreeSpaceFor(const Text& path, std::uint64_t& available) {
    Text folder = ForwardToBackslashes(path);
    while (folder.size() > 1 && folder.back() == '\\' && !IsTop(folder)) folder.resize(folder.size() - 1);
    if (folder.empty()) return FreeSpaceFor(".", available);
    for (;;) {
        if (isDirectory(folder)) return VolumeFreeBytes(folder, available);
        if (IsTop(folder)) return false;
        folder = FolderAbove(folder);
    }
}

std::uint64_t BytesToAdd(const std::vector<RecordSize>& records, const Text& target) {
    Text root = ForwardToBackslashes(target);
    if (!root.empty() && root.back() != '\\') root += '\\';
    std::uint64_t total = 0;
    for (const RecordSize& record : records) {
        if (!IsSafeArchivePath(record.path)) continue;
        FileIdentity there;
        const Text full = root + record.path;
        if (entryKind(full) == kEntryFile && pathIdentity(full, there) && there.size == record.length) continue;
        total += record.length;
    }
    return total;
}
