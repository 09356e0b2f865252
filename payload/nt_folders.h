#pragma once
// Windows folder work relative to held folder handles, shared by the file
// operations and the target tree: NtCreateFile with a root directory handle
// and FILE_OPEN_REPARSE_POINT (the twin of openat with O_NOFOLLOW), renames
// and deletions through handles. Nothing is looked up again by path.
//
// Under Wine a Unix link to a folder or a file opens what it names even
// with FILE_OPEN_REPARSE_POINT; such an entry is told by the name its handle
// reports, which is then not the folder's name and the entry's.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "payload/file_ops_win32.h"
#include "payload/target_tree.h"

namespace nt_folders {

using wide_ops::Handle;

constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Held so: no one can rename or delete it while the handle is open.
constexpr DWORD kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
// What a volume query gives when the system cannot tell.
constexpr std::uint64_t kUnknownVolume = ~0ull;

// A folder held open, with the name its volume gives it (no drive, no
// final separator).
struct Folder {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring name;
};

// NtCreateFile of `name` inside `parent`, synchronous, never following a
// link at the name. The NTSTATUS.
long OpenAt(HANDLE parent, const std::wstring& name, DWORD access, DWORD share, DWORD disposition, DWORD options,
            Handle& out);
bool NotFound(long status);
bool Collision(long status);

// True when `entry`, opened as `name` in `parent`, is that entry itself;
// `entryName` receives the name its handle reports.
bool IsEntryAt(HANDLE entry, const Folder& parent, const std::wstring& name, std::wstring& entryName);

// An entry opened in a held folder, and what it is: a link (a reparse
// point, or a Wine link told by its name) or a folder on another volume is
// never taken for a file or a folder.
struct Entry {
    Handle handle;
    EntryState state = EntryState::Missing;
    wide_ops::EntryInfo info;  // with the file ID
    std::wstring name;         // as the volume names it
    Folder folder() const { return Folder{handle.get(), name}; }
};
Entry EntryAt(const Folder& parent, const std::wstring& name, DWORD access, DWORD share, DWORD options = 0);
// A folder in `parent`, made first when `create` and missing, held without
// delete sharing (plus `access`); Link when it is a link or not on `volume`.
// With `onlyNameLinks`, a reparse point that stands for no other name (a
// cloud file's placeholder, say) is a folder like any other.
Entry FolderAt(const Folder& parent, const std::wstring& name, bool create, std::uint64_t volume, DWORD access = 0,
               bool onlyNameLinks = false);
// The path the system names an open entry by ("\\?\C:\..."); empty when it cannot tell.
std::wstring PathOf(HANDLE handle);

// The volume's serial number, kUnknownVolume when it cannot be told.
std::uint64_t VolumeOf(HANDLE handle);
// Gives the entry the name `name` in `folder`.
bool RenameAt(HANDLE entry, HANDLE folder, const std::wstring& name, bool replace);
// The names inside a folder, dots left out; one listing, through a
// handle of its own (a listing handle keeps its position).
std::vector<std::wstring> NamesIn(const Folder& folder);
// Sets or clears the delete disposition of a file opened with DELETE
// access: a file marked goes when its last handle closes, also when the
// process dies.
bool MarkForDeletion(HANDLE file, bool deleteIt);
// Everything inside the held folder, depth first: links removed where the
// handle shows them, never entered; a folder on another volume left alone.
void ClearFolderAt(const Folder& folder, std::uint64_t volume);
// Work folders for held files: this prefix and 16 random hex digits.
constexpr wchar_t kAsidePrefix[] = L".vantel-aside-";
bool IsAsideName(const std::wstring& name);

// A file moved out of the way and the work folder it went into, both held.
struct Aside {
    Handle file;
    Handle folder;
};
// Moves a file opened with DELETE access into a fresh work folder of this
// run's own made in `place`, a held folder on the file's own volume (a
// rename cannot cross volumes), and deletes it there through its handle
// when it can. True when the file was moved; `aside` then holds both.
bool MoveAside(Handle file, const Folder& place, Aside& aside);
// Deletes what is left aside, then its work folder; what a program still
// holds is marked for deletion at the next restart, the file before its
// folder. Both handles are closed.
void FinishAside(Aside& aside);
// Removes the work folders an earlier run left in `folder` (a power cut):
// real folders of that name only, never a link. How many went.
std::size_t RemoveLeftoverAsides(const Folder& folder, std::uint64_t volume);
// `prefix`, 16 random hex digits and `suffix`: a name no one can guess;
// empty on failure.
std::wstring RandomName(const wchar_t* prefix, const wchar_t* suffix = L"");

}  // namespace nt_folders
