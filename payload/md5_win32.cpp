// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <new>
#include <vector>

#include "payload/md5.h"

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// One algorithm provider for the whole process: opening it is the costly
// part, and a provider may be shared by hashes on any thread.
class Md5Provider {
public:
    Md5Provider() {
        if (!Succeeded(BCryptOpenAlgorithmProvider(&handle_, BCRYPT_MD5_ALGORITHM, nullptr, 0))) handle_ = nullptr;
    }
    ~Md5Provider() {
        if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
    }
    Md5Provider(const Md5Provider&) = delete;
    Md5Provider& operator=(const Md5Provider&) = delete;

    BCRYPT_ALG_HANDLE get() const { return handle_; }
    DWORD propertyDword(LPCWSTR name) const {
        DWORD value = 0;
        ULONG written = 0;
        if (!handle_ ||
            !Succeeded(BCryptGetProperty(handle_, name, reinterpret_cast<PUCHAR>(&value), sizeof value, &written, 0)))
            return 0;
        return value;
    }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

const Md5Provider& Provider() {
    static const Md5Provider provider;
    return provider;
}

}  // namespace

struct Md5::Impl {
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<UCHAR> object;  // the hash object's storage, owned by us
    bool ok = false;

    Impl() {
        const Md5Provider& provider = Provider();
        const DWORD objectLength = provider.propertyDword(BCRYPT_OBJECT_LENGTH);
        if (!provider.get() || objectLength == 0) return;
        object.resize(objectLength);
        ok = Succeeded(BCryptCreateHash(provider.get(), &hash, object.data(), objectLength, nullptr, 0, 0));
        if (!ok) hash = nullptr;
    }
    ~Impl() {
        if (hash) BCryptDestroyHash(hash);
    }
};

Md5::Md5() {
    try {
        impl_.reset(new Impl);
    } catch (const std::bad_alloc&) {
        impl_.reset();
    }
}

Md5::~Md5() = default;

void Md5::update(const void* bytes, std::size_t length) {
    if (!impl_ || !impl_->ok) return;
    auto* p = static_cast<PUCHAR>(const_cast<void*>(bytes));
    // BCryptHashData takes a ULONG count; feed larger inputs in pieces.
    constexpr std::size_t kPiece = 1u << 30;
    while (length > 0 && impl_->ok) {
        const std::size_t n = length < kPiece ? length : kPiece;
        impl_->ok = Succeeded(BCryptHashData(impl_->hash, p, static_cast<ULONG>(n), 0));
        p += n;
        length -= n;
    }
}

Text Md5::finish() {
    if (!impl_ || !impl_->ok) return Text();
    UCHAR digest[16];
    impl_->ok = false;  // spent, whatever the outcome
    if (!Succeeded(BCryptFinishHash(impl_->hash, digest, sizeof digest, 0))) return Text();
    return BytesToHex(digest, sizeof digest);
}
