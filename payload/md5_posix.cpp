#include <openssl/evp.h>

#include <new>

#include "payload/md5.h"

struct Md5::Impl {
    EVP_MD_CTX* context = nullptr;
    bool ok = false;

    Impl() : context(EVP_MD_CTX_new()) { ok = context && EVP_DigestInit_ex(context, EVP_md5(), nullptr) == 1; }
    ~Impl() { EVP_MD_CTX_free(context); }
};

Md5::Md5() : impl_(new (std::nothrow) Impl) {}

Md5::~Md5() = default;

void Md5::update(const void* bytes, std::size_t length) {
    if (!impl_ || !impl_->ok || length == 0) return;
    impl_->ok = EVP_DigestUpdate(impl_->context, bytes, length) == 1;
}

Text Md5::finish() {
    if (!impl_ || !impl_->ok) return Text();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    impl_->ok = false;  // spent, whatever the outcome
    if (EVP_DigestFinal_ex(impl_->context, digest, &size) != 1 || size != 16) return Text();
    return BytesToHex(digest, size);
}
