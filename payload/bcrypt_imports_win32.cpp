// The CNG functions the MD5 digest uses, bound at run time to the system
// folder's bcrypt.dll instead of imported: bcrypt is no DLL that Windows
// protects, and an import would take a copy from the installer's folder.
// Where the system's cannot be had, each one fails, and so does the digest.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <iterator>

#include "system/system_library.h"

namespace {

// In the order of kNames.
enum Function : std::size_t {
    kBCryptOpenAlgorithmProvider,
    kBCryptCloseAlgorithmProvider,
    kBCryptGetProperty,
    kBCryptCreateHash,
    kBCryptDestroyHash,
    kBCryptHashData,
    kBCryptFinishHash,
};

const char* const kNames[] = {
    "BCryptOpenAlgorithmProvider", "BCryptCloseAlgorithmProvider", "BCryptGetProperty", "BCryptCreateHash",
    "BCryptDestroyHash",           "BCryptHashData",               "BCryptFinishHash",
};
static_assert(std::size(kNames) == kBCryptFinishHash + 1);

// STATUS_ENTRYPOINT_NOT_FOUND
constexpr NTSTATUS kUnavailable = static_cast<NTSTATUS>(0xC0000139L);

const SystemFunctionTable<std::size(kNames)>& SystemBcrypt() {
    static const SystemFunctionTable<std::size(kNames)> table(L"bcrypt.dll", kNames);
    return table;
}

}  // namespace

#define VANTEL_BCRYPT_FORWARD(name, parameters, arguments)  \
    NTSTATUS WINAPI name parameters {                       \
        auto system = SystemBcrypt().Get(k##name, &name);   \
        return system ? system arguments : kUnavailable;    \
    }

VANTEL_BCRYPT_FORWARD(BCryptOpenAlgorithmProvider,
                      (BCRYPT_ALG_HANDLE * algorithm, LPCWSTR id, LPCWSTR implementation, ULONG flags),
                      (algorithm, id, implementation, flags))
VANTEL_BCRYPT_FORWARD(BCryptCloseAlgorithmProvider, (BCRYPT_ALG_HANDLE algorithm, ULONG flags), (algorithm, flags))
VANTEL_BCRYPT_FORWARD(BCryptGetProperty,
                      (BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG size, ULONG* written,
                       ULONG flags),
                      (object, property, output, size, written, flags))
VANTEL_BCRYPT_FORWARD(BCryptCreateHash,
                      (BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR object, ULONG objectSize,
                       PUCHAR secret, ULONG secretSize, ULONG flags),
                      (algorithm, hash, object, objectSize, secret, secretSize, flags))
VANTEL_BCRYPT_FORWARD(BCryptDestroyHash, (BCRYPT_HASH_HANDLE hash), (hash))
VANTEL_BCRYPT_FORWARD(BCryptHashData, (BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size, ULONG flags),
                      (hash, input, size, flags))
VANTEL_BCRYPT_FORWARD(BCryptFinishHash, (BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size, ULONG flags),
                      (hash, output, size, flags))
