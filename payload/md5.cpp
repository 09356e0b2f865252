#include "payload/md5.h"

Text Md5OfBytes(const void* bytes, std::size_t length) {
    Md5 md5;
    md5.update(bytes, length);
    return md5.finish();
}
