#include "process/process_scan.h"

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>

#include "process/process_control.h"

namespace {

constexpr ULONG kSystemProcessInformation = 5;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
// The list may grow between the size query and the read.
constexpr int kSnapshotAttempts = 5;

// Entry fields where the platform's own structure puts them, so each
// architecture reads its own layout (0x38, 0x3C and 0x44 on 32-bit Windows).
constexpr std::size_t kNextEntryOffset = offsetof(SYSTEM_PROCESS_INFORMATION, NextEntryOffset);
constexpr std::size_t kImageNameLength =
    offsetof(SYSTEM_PROCESS_INFORMATION, ImageName) + offsetof(UNICODE_STRING, Length);
constexpr std::size_t kImageNameBuffer =
    offsetof(SYSTEM_PROCESS_INFORMATION, ImageName) + offsetof(UNICODE_STRING, Buffer);
constexpr std::size_t kUniqueProcessId = offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId);
constexpr std::size_t kEntryFieldsEnd = kUniqueProcessId + sizeof(HANDLE);

constexpr UINT kProcessNameCodePage = 936;

using NtQuerySystemInformationFn = LONG(NTAPI*)(ULONG, void*, ULONG, ULONG*);

template <typename T>
T FieldAt(const std::uint8_t* entry, std::size_t offset) {
    T value;
    std::memcpy(&value, entry + offset, sizeof(T));
    return value;
}

// The whole snapshot, or an empty one when it cannot be taken.
std::vector<std::uint64_t> TakeSnapshot() {
    auto query = reinterpret_cast<NtQuerySystemInformationFn>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation"));
    if (!query) return {};
    ULONG needed = 0;
    query(kSystemProcessInformation, nullptr, 0, &needed);
    for (int attempt = 0; attempt < kSnapshotAttempts && needed > 0; ++attempt) {
        std::vector<std::uint64_t> block((needed + 7) / 8);
        ULONG length = static_cast<ULONG>(block.size() * 8);
        ULONG reported = 0;
        LONG status = query(kSystemProcessInformation, block.data(), length, &reported);
        if (status == 0) return block;
        if (status != kStatusInfoLengthMismatch) return {};
        needed = reported > length ? reported : length * 2;
    }
    return {};
}

// The name in code page 936, sized to fit; empty when it does not convert.
Text ConvertName(const wchar_t* name, int units) {
    if (units <= 0) return Text();
    int size = WideCharToMultiByte(kProcessNameCodePage, WC_COMPOSITECHECK, name, units, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return Text();
    Text text(static_cast<std::size_t>(size), '\0');
    int written = WideCharToMultiByte(kProcessNameCodePage, WC_COMPOSITECHECK, name, units, text.data(), size,
                                      nullptr, nullptr);
    text.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return TextFromBytes(text.data(), text.size());
}

class LiveProcessSystem : public ProcessSystem {
public:
    std::vector<std::uint64_t> Snapshot() override { return TakeSnapshot(); }
    void Terminate(std::uint32_t id) override { TerminateProcessById(id); }
};

}  // namespace

ProcessSystem& LiveProcesses() {
    static LiveProcessSystem system;
    return system;
}

int ListProcesses(ProcessIdList& ids, TextList& names, ProcessSystem& system) {
    ids.clear();
    names.clear();
    std::vector<std::uint64_t> block = system.Snapshot();
    const auto* base = reinterpret_cast<const std::uint8_t*>(block.data());
    const std::size_t size = block.size() * 8;
    for (std::size_t offset = 0; offset + kEntryFieldsEnd <= size;) {
        const std::uint8_t* entry = base + offset;
        auto nameBuffer = FieldAt<std::uintptr_t>(entry, kImageNameBuffer);
        auto nameLength = FieldAt<std::uint16_t>(entry, kImageNameLength);
        names.push_back(nameBuffer == 0 ? Text("System Idle Process")
                                        : ConvertName(reinterpret_cast<const wchar_t*>(nameBuffer),
                                                      nameLength / 2));
        // Process ids fit in 32 bits; the field is pointer-sized.
        ids.push_back(static_cast<std::uint32_t>(FieldAt<std::uintptr_t>(entry, kUniqueProcessId)));
        auto next = FieldAt<std::uint32_t>(entry, kNextEntryOffset);
        if (next == 0) break;
        offset += next;
    }
    return static_cast<int>(ids.size());
}

int FindProcessesByName(const Text& name, ProcessIdList& ids, bool caseSensitive, ProcessSystem& system) {
    ids.clear();
    ProcessIdList allIds;
    TextList allNames;
    ListProcesses(allIds, allNames, system);
    const Text wanted = caseSensitive ? name : LowerAscii(name);
    for (std::size_t i = 0; i < allIds.size(); ++i) {
        if ((caseSensitive ? allNames[i] : LowerAscii(allNames[i])) == wanted) ids.push_back(allIds[i]);
    }
    return static_cast<int>(ids.size());
}

void StopProcessesByName(const Text& name, ProcessSystem& system) {
    ProcessIdList ids;
    FindProcessesByName(name, ids, false, system);
    for (std::uint32_t id : ids) system.Terminate(id);
}
