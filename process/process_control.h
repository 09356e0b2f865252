#pragma once
// Process primitives: own id, open, terminate and close through the native
// interface (bound from ntdll at run time), and the forced self-exit.
#include <windows.h>

#include <cstdint>

// PROCESS_ALL_ACCESS as Windows XP defines it.
constexpr DWORD kProcessAllAccessXp = 0x1F0FFF;

struct ProcessClientId {
    ULONG_PTR uniqueProcess;
    ULONG_PTR uniqueThread;
};

// The system routines behind the primitives. A missing routine counts as
// a failed call. Tests hand in their own table.
struct ProcessApi {
    LONG(NTAPI* ntOpenProcess)(PHANDLE handle, ACCESS_MASK access, void* objectAttributes, ProcessClientId* clientId);
    LONG(NTAPI* ntTerminateProcess)(HANDLE handle, LONG exitStatus);
    LONG(NTAPI* ntClose)(HANDLE handle);
    BOOL(WINAPI* terminateProcess)(HANDLE handle, UINT exitCode);
};

// ntdll's routines and TerminateProcess, bound once.
const ProcessApi& BoundProcessApi();

std::uint32_t GetOwnProcessId();
// Opens by id, then by id + 1 (the system ignores the two low bits).
bool OpenProcessById(DWORD access, std::uint32_t id, HANDLE& handle, const ProcessApi& api = BoundProcessApi());
// Native terminate, then TerminateProcess; exit status 0; the handle is
// always closed. Does not wait for the process to end.
bool TerminateProcessById(std::uint32_t id, const ProcessApi& api = BoundProcessApi());
bool CloseKernelHandle(HANDLE handle, const ProcessApi& api = BoundProcessApi());

// The application's end-of-program service; ExitProcess when none is given.
using EndProgramRoutine = void (*)(unsigned exitCode);
// Ends the process with exit code 0, trying one way after another.
[[noreturn]] void ExitSelf(EndProgramRoutine endProgram = nullptr);
