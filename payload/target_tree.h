#pragma once
// The files below the folder an archive is extracted into. The installer
// runs elevated and the folder may belong to a user who can still change
// it, so nothing below it is ever reached through a link: each folder on
// the way is opened in turn from the target down and must be a real one
// (POSIX: openat with O_NOFOLLOW; Windows: the attribute and a handle
// opened with FILE_FLAG_OPEN_REPARSE_POINT at every level, each held
// without delete sharing while it is used, so none can be swapped for a
// link meanwhile). The target's own path is resolved by the system: it is
// what the caller named. Relative paths use "\" or "/" between components.
#include <cstdint>
#include <memory>

#include "payload/file_ops.h"
#include "system/text.h"

enum class EntryState {
    Missing,  // nothing, or a file where a folder on the way should be
    File,
    Folder,
    Link,   // a link at the path or on the way to it
    Other,  // something that is neither, e.g. a pipe
};

class TargetTree {
public:
    // `root` ends with "\"; nothing is opened yet.
    explicit TargetTree(const Text& root);
    ~TargetTree();
    TargetTree(const TargetTree&) = delete;
    TargetTree& operator=(const TargetTree&) = delete;

    // Opens the root folder (again); false when it is no folder.
    bool open();
    // Lets the root go, e.g. before it is removed and made anew.
    void close();
    // True while the root's path still names the folder that was opened.
    bool rootInPlace() const;

    // Creates each missing folder of a relative folder path in turn; false
    // when one cannot be made or is a link or no folder.
    bool makeFolders(const Text& folder);
    // What is at the path. For a file, `readable` receives a handle opened
    // for reading (read and write sharing, invalid when that is refused)
    // and `identity` what it reaches.
    EntryState look(const Text& path, FileHandle* readable = nullptr, FileIdentity* identity = nullptr);
    // A file for reading and writing, emptied or created, no sharing.
    // Refused for a link, a folder, a read-only file or one in use. A file
    // with more than one link is replaced by a new one, so the write never
    // reaches its other names.
    FileHandle openForWrite(const Text& path);
    // Attribute word 32 on the file or folder at the path; never on a link
    // or on a file with other names.
    void clearAttributes(const Text& path);
    // Removes what is at the path: a file, a link (only the link), a
    // folder with everything below it; true when nothing is left there.
    // False when a link is on the way (what is there cannot be reached).
    bool remove(const Text& path);
    // Deletes a file that refuses deletion or moves it out of the way
    // under the temporary folder; true when nothing is left at the path.
    bool forceRemove(const Text& path);

    // The identity of a file opened below the root (all of them lie on the
    // root's volume: no link, mount point included, is followed).
    bool identify(const FileHandle& file, FileIdentity& identity) const;

    // Counts every removal and replacement made through this object.
    std::uint64_t removals() const { return removals_; }

private:
    struct State;
    std::unique_ptr<State> state_;
    std::uint64_t removals_ = 0;
};
