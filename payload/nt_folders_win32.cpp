// rand_s is declared only with this set before the first C header.
#define _CRT_RAND_S
#include <stdlib.h>

#include "payload/nt_folders.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <vector>

#include "process/message_pump.h"

namespace nt_folders {

using wide_ops::EntryInfo;
using wide_ops::HandleName;
using wide_ops::IsFolder;
using wide_ops::IsLink;
using wide_ops::QueryEntry;

namespace {

constexpr long kNotImplemented = static_cast<long>(0xC0000002);
constexpr long kNoSuchFile = static_cast<long>(0xC000000F);
constexpr long kNameNotFound = static_cast<long>(0xC0000034);
constexpr long kNameCollision = static_cast<long>(0xC0000035);
constexpr long kPathNotFound = static_cast<long>(0xC000003A);
constexpr long kBufferOverflow = static_cast<long>(0x80000005);  // the fixed part was filled

constexpr int kFileDirectoryInformation = 1;
constexpr int kFileRenameInformation = 10;
constexpr int kFileDispositionInformation = 13;
constexpr int kFileNamesInformation = 12;
constexpr int kFileFsVolumeInformation = 1;

// Not in the user-mode headers; no pointer in it.
struct VolumeInformation {
    LARGE_INTEGER created;
    ULONG serial;
    ULONG labelLength;
    BOOLEAN supportsObjects;
    WCHAR label[1];
};

// Bound at run time: the image imports nothing more from ntdll.
struct Ntdll {
    using CreateFn = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, LARGE_INTEGER*, ULONG,
                                  ULONG, ULONG, ULONG, void*, ULONG);
    using InfoFn = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
    using ListFn = LONG(NTAPI*)(HANDLE, HANDLE, void*, void*, IO_STATUS_BLOCK*, void*, ULONG, int, BOOLEAN,
                                UNICODE_STRING*, BOOLEAN);
    CreateFn create = nullptr;
    InfoFn setInformation = nullptr;
    InfoFn queryVolume = nullptr;
    ListFn list = nullptr;
};

template <typename Fn>
Fn Bound(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const Ntdll& Nt() {
    static const Ntdll nt = [] {
        Ntdll bound;
        const HMODULE module = GetModuleHandleW(L"ntdll.dll");
        if (!module) return bound;
        bound.create = Bound<Ntdll::CreateFn>(module, "NtCreateFile");
        bound.setInformation = Bound<Ntdll::InfoFn>(module, "NtSetInformationFile");
        bound.queryVolume = Bound<Ntdll::InfoFn>(module, "NtQueryVolumeInformationFile");
        bound.list = Bound<Ntdll::ListFn>(module, "NtQueryDirectoryFile");
        return bound;
    }();
    return nt;
}

UNICODE_STRING Counted(const std::wstring& text) {
    UNICODE_STRING counted;
    counted.Buffer = const_cast<PWSTR>(text.c_str());
    counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    counted.MaximumLength = counted.Length;
    return counted;
}

// Only through the handle: the name goes once no handle is left.
bool Dispose(HANDLE handle) {
    FILE_DISPOSITION_INFO dispose{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose) != 0;
}

// The name the folder lists for `name`, and its attributes as listed (Wine
// shows a link to a folder there). A handle of its own: a listing handle
// keeps the first name it was asked for.
bool Listed(HANDLE folder, const std::wstring& name, std::wstring& listed, DWORD& attributes) {
    Handle own;
    if (!Nt().list ||
        OpenAt(folder, std::wstring(), FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, own) < 0)
        return false;
    alignas(8) std::uint8_t buffer[sizeof(FILE_DIRECTORY_INFORMATION) + MAX_PATH * sizeof(WCHAR) * 2];
    UNICODE_STRING mask = Counted(name);
    IO_STATUS_BLOCK io{};
    if (Nt().list(own.get(), nullptr, nullptr, nullptr, &io, buffer, sizeof buffer, kFileDirectoryInformation, TRUE,
                  &mask, TRUE) < 0)
        return false;
    const auto* entry = reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(buffer);
    listed.assign(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
    attributes = entry->FileAttributes;
    return true;
}

// True when `full` is `folder` + "\\" + `name`, as the file system compares names.
bool IsNameIn(const std::wstring& full, const std::wstring& folder, const std::wstring& name) {
    const std::size_t at = folder.size() + 1;
    return full.size() == at + name.size() && full[folder.size()] == L'\\' &&
           CompareStringOrdinal(full.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                                static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL &&
           CompareStringOrdinal(full.c_str() + at, static_cast<int>(name.size()), name.c_str(),
                                static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
}

// The names directly inside a folder opened for listing, dots left out,
// with their attributes as listed when `attributes` is given.
std::vector<std::wstring> ListNames(HANDLE folder, std::vector<DWORD>* attributes = nullptr) {
    std::vector<std::wstring> names;
    if (!Nt().list) return names;
    std::vector<std::uint8_t> buffer(64 * 1024);
    for (BOOLEAN restart = TRUE;; restart = FALSE) {
        IO_STATUS_BLOCK io{};
        if (Nt().list(folder, nullptr, nullptr, nullptr, &io, buffer.data(), static_cast<ULONG>(buffer.size()),
                      attributes ? kFileDirectoryInformation : kFileNamesInformation, FALSE, nullptr, restart) < 0)
            return names;
        for (std::size_t at = 0;;) {
            const std::uint8_t* entry = buffer.data() + at;
            std::wstring name;
            ULONG next = 0;
            DWORD listed = 0;
            if (attributes) {
                const auto* info = reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(entry);
                name.assign(info->FileName, info->FileNameLength / sizeof(WCHAR));
                next = info->NextEntryOffset;
                listed = info->FileAttributes;
            } else {
                const auto* info = reinterpret_cast<const FILE_NAMES_INFORMATION*>(entry);
                name.assign(info->FileName, info->FileNameLength / sizeof(WCHAR));
                next = info->NextEntryOffset;
            }
            if (name != L"." && name != L"..") {
                names.push_back(std::move(name));
                if (attributes) attributes->push_back(listed);
            }
            if (next == 0) break;
            at += next;
        }
    }
}

// A fresh folder of this run's own in `place`, under a name no one could
// plant anything at beforehand; held without delete sharing.
Entry NewWorkFolder(const Folder& place) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::wstring name = RandomName(kAsidePrefix);
        if (name.empty()) break;
        Entry work;
        const long status = OpenAt(place.handle, name, kFolderAccess | DELETE, kShareNoDelete, FILE_CREATE,
                                   FILE_DIRECTORY_FILE, work.handle);
        if (Collision(status)) continue;
        // Still the folder just made: a real one, at that name.
        if (status < 0 || !QueryEntry(work.handle.get(), work.info) || !IsFolder(work.info.attributes) ||
            IsLink(work.info.attributes) || !IsEntryAt(work.handle.get(), place, name, work.name))
            break;
        work.state = EntryState::Folder;
        return work;
    }
    return Entry();
}

// A reparse point that stands for another name: a junction, a symbolic
// link, a mount point. One whose tag cannot be read counts as one.
bool StandsForAnotherName(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return !GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
           IsReparseTagNameSurrogate(tag.ReparseTag);
}

}  // namespace

std::wstring PathOf(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return std::wstring();
        if (length < path.size()) return path.substr(0, length);
        path.resize(length);
    }
}

long OpenAt(HANDLE parent, const std::wstring& name, DWORD access, DWORD share, DWORD disposition, DWORD options,
            Handle& out) {
    out = Handle();
    if (!Nt().create) return kNotImplemented;
    if (name.size() > 32767) return kNameNotFound;
    UNICODE_STRING text = Counted(name);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE opened = nullptr;
    const long status =
        Nt().create(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                    options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status >= 0) out = Handle(opened);
    return status;
}

bool NotFound(long status) { return status == kNameNotFound || status == kPathNotFound || status == kNoSuchFile; }

bool Collision(long status) { return status == kNameCollision; }

bool IsEntryAt(HANDLE entry, const Folder& parent, const std::wstring& name, std::wstring& entryName) {
    if (!HandleName(entry, entryName)) return false;
    if (IsNameIn(entryName, parent.name, name)) return true;
    // Named otherwise (a short name, say): the name the folder lists must be it.
    std::wstring listed;
    DWORD attributes = 0;
    return Listed(parent.handle, name, listed, attributes) && !IsLink(attributes) &&
           IsNameIn(entryName, parent.name, listed);
}

Entry EntryAt(const Folder& parent, const std::wstring& name, DWORD access, DWORD share, DWORD options) {
    Entry entry;
    const long status =
        OpenAt(parent.handle, name, access | FILE_READ_ATTRIBUTES, share, FILE_OPEN, options, entry.handle);
    if (status < 0) {
        entry.state = NotFound(status) ? EntryState::Missing : EntryState::Other;
    } else if (!QueryEntry(entry.handle.get(), entry.info, true)) {
        entry.state = EntryState::Other;
    } else if (IsLink(entry.info.attributes) || !IsEntryAt(entry.handle.get(), parent, name, entry.name)) {
        entry.state = EntryState::Link;
    } else {
        entry.state = IsFolder(entry.info.attributes) ? EntryState::Folder : EntryState::File;
    }
    return entry;
}

Entry FolderAt(const Folder& parent, const std::wstring& name, bool create, std::uint64_t volume, DWORD access,
               bool onlyNameLinks) {
    Entry folder;
    const long status = OpenAt(parent.handle, name, kFolderAccess | access, kShareNoDelete,
                               create ? FILE_OPEN_IF : FILE_OPEN, FILE_DIRECTORY_FILE, folder.handle);
    if (status < 0) {
        // What stands there instead, for the caller to tell a file from a link.
        const EntryState there = EntryAt(parent, name, 0, kShareAll).state;
        folder.state = there == EntryState::Folder ? EntryState::Other : there;
        return folder;
    }
    if (!QueryEntry(folder.handle.get(), folder.info, true)) {
        folder.state = EntryState::Other;
    } else if ((IsLink(folder.info.attributes) && (!onlyNameLinks || StandsForAnotherName(folder.handle.get()))) ||
               !IsFolder(folder.info.attributes) || !IsEntryAt(folder.handle.get(), parent, name, folder.name) ||
               VolumeOf(folder.handle.get()) != volume) {
        folder.state = EntryState::Link;  // a mount point too
    } else {
        folder.state = EntryState::Folder;
    }
    return folder;
}

std::uint64_t VolumeOf(HANDLE handle) {
    if (!Nt().queryVolume) return kUnknownVolume;
    alignas(8) std::uint8_t buffer[sizeof(VolumeInformation) + MAX_PATH * sizeof(WCHAR)];
    IO_STATUS_BLOCK io{};
    const long status = Nt().queryVolume(handle, &io, buffer, sizeof buffer, kFileFsVolumeInformation);
    if (status < 0 && status != kBufferOverflow) return kUnknownVolume;
    return reinterpret_cast<const VolumeInformation*>(buffer)->serial;
}

std::vector<std::wstring> NamesIn(const Folder& folder) {
    Handle own;
    if (OpenAt(folder.handle, std::wstring(), FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, own) < 0)
        return {};
    return ListNames(own.get());
}

bool MarkForDeletion(HANDLE file, bool deleteIt) {
    if (!Nt().setInformation) return false;
    BOOLEAN disposition = deleteIt ? TRUE : FALSE;  // FILE_DISPOSITION_INFORMATION
    IO_STATUS_BLOCK io{};
    return Nt().setInformation(file, &io, &disposition, sizeof disposition, kFileDispositionInformation) >= 0;
}

bool RenameAt(HANDLE entry, HANDLE folder, const std::wstring& name, bool replace) {
    if (!Nt().setInformation) return false;
    const std::size_t bytes = name.size() * sizeof(wchar_t);
    std::vector<std::uint8_t> buffer(offsetof(FILE_RENAME_INFO, FileName) + bytes + sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(rename->FileName, name.data(), bytes);
    IO_STATUS_BLOCK io{};
    return Nt().setInformation(entry, &io, rename, static_cast<ULONG>(buffer.size()), kFileRenameInformation) >= 0;
}

void ClearFolderAt(const Folder& folder, std::uint64_t volume) {
    for (const std::wstring& name : ListNames(folder.handle)) {
        PumpPendingMessages();
        Entry entry = EntryAt(folder, name, DELETE, kShareAll);
        if (entry.state == EntryState::File) {
            wide_ops::DeleteOpenFile(entry.handle.get());
        } else if (entry.state == EntryState::Link && IsLink(entry.info.attributes)) {
            Dispose(entry.handle.get());  // the handle is the link itself: what it names stays
        } else if (entry.state == EntryState::Folder) {
            entry = Entry();
            // Held while it is emptied; one on another volume is not ours to empty.
            Entry inner = FolderAt(folder, name, false, volume, DELETE);
            if (inner.state != EntryState::Folder) continue;
            ClearFolderAt(inner.folder(), volume);
            Dispose(inner.handle.get());
        }
    }
}

bool IsAsideName(const std::wstring& name) {
    const std::size_t prefix = std::wcslen(kAsidePrefix);
    return name.size() == prefix + 16 && name.compare(0, prefix, kAsidePrefix) == 0 &&
           name.find_first_not_of(L"0123456789abcdef", prefix) == std::wstring::npos;
}

bool MoveAside(Handle file, const Folder& place, Aside& aside) {
    Entry work = NewWorkFolder(place);
    if (work.state != EntryState::Folder) return false;
    if (!RenameAt(file.get(), work.handle.get(), L"TemporaryFile", false)) {
        Dispose(work.handle.get());
        return false;
    }
    // A running program's file refuses deletion: it stays until it can go.
    wide_ops::DeleteOpenFile(file.get());
    aside.file = std::move(file);
    aside.folder = std::move(work.handle);
    return true;
}

void FinishAside(Aside& aside) {
    if (!aside.folder.valid()) return;
    std::wstring filePath, folderPath;
    if (aside.file.valid()) {
        wide_ops::DeleteOpenFile(aside.file.get());  // once more: its program may have ended
        filePath = PathOf(aside.file.get());
        aside.file = Handle();
    }
    // Refused while anything is left in it, a file whose deletion waits for its holder too.
    if (!Dispose(aside.folder.get())) {
        folderPath = PathOf(aside.folder.get());
        if (!filePath.empty()) MoveFileExW(filePath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        if (!folderPath.empty()) MoveFileExW(folderPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    aside.folder = Handle();
}

std::size_t RemoveLeftoverAsides(const Folder& folder, std::uint64_t volume) {
    std::size_t removed = 0;
    std::vector<DWORD> attributes;
    const std::vector<std::wstring> names = ListNames(folder.handle, &attributes);
    for (std::size_t i = 0; i < names.size(); ++i) {
        // What the listing shows as a link is never opened.
        const std::wstring& name = names[i];
        if (!IsAsideName(name) || !IsFolder(attributes[i]) || IsLink(attributes[i])) continue;
        Entry work = FolderAt(folder, name, false, volume, DELETE);
        if (work.state != EntryState::Folder) continue;  // a link stays, what it names untouched
        ClearFolderAt(work.folder(), volume);
        if (Dispose(work.handle.get())) ++removed;
    }
    return removed;
}

std::wstring RandomName(const wchar_t* prefix, const wchar_t* suffix) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring name = prefix;
    for (int word = 0; word < 2; ++word) {
        unsigned int random = 0;
        if (rand_s(&random) != 0) return std::wstring();
        for (int i = 0; i < 8; ++i, random >>= 4) name += kDigits[random & 15];
    }
    return name += suffix;
}

}  // namespace nt_folders
