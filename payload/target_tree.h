#pragma once
// The files below the folder an archive is extracted into. The installer
// runs elevated and the folder may belong to a user who can still change
// it while the extraction runs, so nothing below it is ever reached by a
// path the system resolves again: every open, create, rename and delete is
// relative to a folder handle already held (POSIX: the *at() calls with
// O_NOFOLLOW; Windows: NtCreateFile with a root directory handle and
// FILE_OPEN_REPARSE_POINT), and each folder on the way is checked to be a
// real folder on the root's volume (a link, a junction and a mount point
// are never entered). The root's own path is taken once, when the tree is
// opened, level by level from the volume's root (see RootPath); a root
// that no longer matches its handle ends the run, it is never opened again
// by path. Relative paths use "\" or "/" between components.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "payload/file_ops.h"
#include "system/text.h"

// ".vantel-", 16 lowercase hex digits, ".tmp": the name a record's bytes
// are staged under, and so what a run that died may have left behind.
template <typename Char>
bool IsStagingName(const std::basic_string<Char>& name) {
    static constexpr char kPrefix[] = ".vantel-", kSuffix[] = ".tmp";
    constexpr std::size_t kDigits = 16, kPrefixSize = sizeof kPrefix - 1, kSuffixSize = sizeof kSuffix - 1;
    if (name.size() != kPrefixSize + kDigits + kSuffixSize) return false;
    for (std::size_t i = 0; i < kPrefixSize; ++i)
        if (name[i] != static_cast<Char>(kPrefix[i])) return false;
    for (std::size_t i = 0; i < kSuffixSize; ++i)
        if (name[kPrefixSize + kDigits + i] != static_cast<Char>(kSuffix[i])) return false;
    for (std::size_t i = kPrefixSize; i < kPrefixSize + kDigits; ++i) {
        const Char c = name[i];
        if (!((c >= Char('0') && c <= Char('9')) || (c >= Char('a') && c <= Char('f')))) return false;
    }
    return true;
}

enum class EntryState {
    Missing,  // nothing, or a file where a folder on the way should be
    File,
    Folder,
    Link,   // a link at the path or on the way to it (a mount point too)
    Other,  // something that is neither, e.g. a pipe
};

// A record's bytes on their way in: a new file in the folder of the path
// it is meant for, and that folder, held too. It has no name until it is
// committed where the system allows (POSIX O_TMPFILE), or else a fresh one
// of its own that the system deletes should the run die (Windows: a delete
// disposition set until the commit). It takes the path's name only when
// committed; one that goes uncommitted is removed with it, so nothing half
// written or unverified is ever found at a record's path.
class StagedFile {
public:
    StagedFile();
    ~StagedFile();
    StagedFile(StagedFile&&) noexcept;
    StagedFile& operator=(StagedFile&&) noexcept;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    bool valid() const;
    // Opened for reading and writing, no sharing; still valid after the commit.
    const FileHandle& file() const;

    struct State;

private:
    friend class TargetTree;
    std::unique_ptr<State> state_;
};

// How the root's own path is reached. Strict: every level from the
// volume's root down is opened relative to the one above, never through a
// link (a junction, a symbolic link, a mount point); one on the way
// refuses the tree. What runs elevated takes nothing else: whoever may
// make a folder on the way could otherwise send the writes elsewhere.
// AsNamed: links in the path the caller named are followed, once, as a
// command-line tool does; below the root nothing is followed either way.
enum class RootPath { Strict, AsNamed };

class TargetTree {
public:
    // `root` ends with "\"; nothing is opened yet.
    explicit TargetTree(const Text& root, RootPath rootPath = RootPath::Strict);
    ~TargetTree();
    TargetTree(const TargetTree&) = delete;
    TargetTree& operator=(const TargetTree&) = delete;

    // Opens the root folder. With `create`, the missing folders of its
    // path are made on the way, each made and opened relative to the one
    // above it. False when the root cannot be opened or is no folder, or a
    // strict path meets a link.
    bool open(bool create = false);
    bool opened() const;
    // After a refused open: the root's path up to the level that is a
    // link; empty when no link refused it.
    const Text& linkOnTheWay() const;
    // True while the root's path still names the folder that was opened.
    bool rootInPlace() const;

    // Creates each missing folder of a relative folder path in turn; false
    // when one cannot be made or is a link or no folder. Like stage, it
    // first removes from each folder it passes (the root included) the
    // staging files earlier runs left: once per folder, never one this
    // tree staged, never a folder; a link of such a name goes itself.
    bool makeFolders(const Text& folder);
    // True when makeFolders went through (or made) the folder with this
    // identity at any time in this tree's life.
    bool walkedThrough(const FileIdentity& folder) const;

    // What is at the path. For a file, `readable` receives a handle opened
    // for reading (read and write sharing; invalid when that is refused);
    // for a file or a folder, `identity` receives what it is.
    EntryState look(const Text& path, FileHandle* readable = nullptr, FileIdentity* identity = nullptr);

    // A new empty file beside the path (in the folder it names), for the
    // record's bytes; invalid when that folder cannot be reached or takes
    // no new file.
    StagedFile stage(const Text& path);
    // Gives the staged file the name it was staged for, replacing a file
    // there. False, with nothing changed, when what is there refuses: a
    // read-only (Windows: also hidden or system) file, a file in use, a
    // folder, a link or anything else that is no file.
    bool commit(StagedFile& staged);

    // Attribute word 32 on the file or folder at the path; never on a link
    // or on a file with other names, which is checked on the handle it is
    // set through, after it was opened.
    void clearAttributes(const Text& path);
    // Removes what is at the path: a file, a link (only the link), a
    // folder with everything below it; true when nothing is left there.
    // False when a link is on the way (what is there cannot be reached).
    bool remove(const Text& path);
    // Deletes a file that refuses deletion, or moves it out of the way into
    // a work folder of this run's own under the root, on the file's own
    // volume (a fresh folder with an unpredictable name, held while the file
    // goes in); true when nothing is left at the path. What a program still
    // holds when the tree goes is marked for deletion at the next restart.
    bool forceRemove(const Text& path);
    // Removes the work folders an earlier run left under the root (a power
    // cut): real folders of that name only, never a link.
    void removeLeftovers();

    // The staging files earlier runs left anywhere below the root, as
    // relative paths in order; nothing is removed. Links and mount points
    // are not entered.
    std::vector<Text> leftovers();

    // The identity of a file opened below the root.
    bool identify(const FileHandle& file, FileIdentity& identity) const;

    // Counts every removal made through this object (leftovers swept
    // too), and every commit that replaced a file with other names.
    std::uint64_t removals() const { return removals_; }

private:
    struct State;
    std::unique_ptr<State> state_;
    std::uint64_t removals_ = 0;
};
