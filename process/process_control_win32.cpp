#include "process/process_control.h"

#include <winternl.h>

namespace {

constexpr LONG kStatusProcedureNotFound = static_cast<LONG>(0xC000007A);

template <typename Fn>
Fn Bind(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Fn>(GetProcAddress(module, name)) : nullptr;
}

ProcessApi BindProcessApi() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    ProcessApi api{};
    api.ntOpenProcess = Bind<decltype(api.ntOpenProcess)>(ntdll, "NtOpenProcess");
    api.ntTerminateProcess = Bind<decltype(api.ntTerminateProcess)>(ntdll, "NtTerminateProcess");
    api.ntClose = Bind<decltype(api.ntClose)>(ntdll, "NtClose");
    api.terminateProcess = TerminateProcess;
    return api;
}

LONG NativeOpen(const ProcessApi& api, HANDLE& handle, DWORD access, std::uint32_t id) {
    if (!api.ntOpenProcess) return kStatusProcedureNotFound;
    OBJECT_ATTRIBUTES attributes{};  // 24 bytes on 32-bit Windows, 48 on 64-bit
    attributes.Length = sizeof(attributes);
    ProcessClientId client{id, 0};
    return api.ntOpenProcess(&handle, access, &attributes, &client);
}

}  // namespace

const ProcessApi& BoundProcessApi() {
    static const ProcessApi api = BindProcessApi();
    return api;
}

std::uint32_t GetOwnProcessId() { return GetCurrentProcessId(); }

bool OpenProcessById(DWORD access, std::uint32_t id, HANDLE& handle, const ProcessApi& api) {
    handle = nullptr;
    if (NativeOpen(api, handle, access, id) == 0) return true;
    handle = nullptr;
    if (NativeOpen(api, handle, access, id + 1) == 0) return true;
    handle = nullptr;
    return false;
}

bool CloseKernelHandle(HANDLE handle, const ProcessApi& api) {
    return api.ntClose && api.ntClose(handle) == 0;
}

bool TerminateProcessById(std::uint32_t id, const ProcessApi& api) {
    HANDLE process = nullptr;
    if (!OpenProcessById(kProcessAllAccessXp, id, process, api)) return false;
    bool told = (api.ntTerminateProcess && api.ntTerminateProcess(process, 0) == 0) ||
                (api.terminateProcess && api.terminateProcess(process, 0) != 0);
    CloseKernelHandle(process, api);
    return told;
}

void ExitSelf(EndProgramRoutine endProgram) {
    std::uint32_t id = GetOwnProcessId();
    TerminateProcess(OpenProcess(kProcessAllAccessXp, TRUE, id), 0);
    TerminateProcessById(id);
    using LdrShutdownProcessFn = LONG(NTAPI*)();
    if (auto shutdown = Bind<LdrShutdownProcessFn>(GetModuleHandleA("ntdll.dll"), "LdrShutdownProcess")) shutdown();
    ExitProcess(0);
    // Not reached while ExitProcess works; kept as the last resorts.
    if (endProgram) endProgram(0);
    TerminateProcessById(id);
    if (endProgram) endProgram(0);
    for (;;) ExitProcess(0);
}
