#pragma once
// Code from the system folder only. The installer runs elevated from
// wherever it was downloaded, next to whatever else landed there, so no
// DLL is ever taken from its own folder or the current one. Windows only.
#include <windows.h>

#include <cstddef>

// Restricts the process's DLL search to the system folder; the program's
// first call. False where the system lacks the search flags (Windows 7
// without KB2533623): the current folder then still leaves the search, and
// LoadSystemLibrary goes by full path.
bool RestrictDllSearch();

// Has the system refuse, for this process, to follow a junction that a
// user without administrator rights made, so such a link planted in a
// folder the installer writes cannot redirect its writes elsewhere. False
// where the system lacks the policy (older Windows) or refuses it; the
// program then goes on without it.
bool EnforceRedirectionTrust();

// The system folder's copy of a DLL named without a folder ("gdiplus.dll"),
// loaded or already there; null when it is not there or the name is not a
// bare file name.
HMODULE LoadSystemLibrary(const wchar_t* name);
// The same by full system-folder path: the route where the search flags
// are missing.
HMODULE LoadSystemLibraryByPath(const wchar_t* name);
// Loads the system folder's copy for the rest of the process; false when it
// is not there. For DLLs that system DLLs load late by a search of their
// own: Wine resolves their delay-loads by the default search, program's
// folder first, whatever RestrictDllSearch said, but takes a DLL that is
// already loaded by its name.
bool HoldSystemLibrary(const wchar_t* name);

// Resolves each of `count` names from the system DLL into `functions`.
// All or nothing: when the DLL or any name is missing, every entry stays
// null and the result is false, so callers never mix a real function with
// a stand-in (an allocator with another's free, say).
bool ResolveSystemFunctions(const wchar_t* library, const char* const* names, FARPROC* functions,
                            std::size_t count);

// The functions of one system DLL that the program calls instead of
// importing them, resolved when the table is made (a function-local
// static makes that the first use).
template <std::size_t N>
class SystemFunctionTable {
public:
    SystemFunctionTable(const wchar_t* library, const char* const (&names)[N]) {
        ResolveSystemFunctions(library, names, functions_, N);
    }
    // The function at `index` of the names, typed as `like` (the caller's
    // own declaration of it); null when the table did not resolve.
    template <typename Fn>
    Fn Get(std::size_t index, Fn like) const {
        static_cast<void>(like);
        return reinterpret_cast<Fn>(functions_[index]);
    }

private:
    FARPROC functions_[N] = {};
};
