#include "system/posix_path.h"

#include <iconv.h>

#include <cerrno>

namespace {

bool Convert(const char* to, const char* from, const std::string& in, std::string& out) {
    out.clear();
    if (in.empty()) return true;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string buffer(in.size() * 4 + 4, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = buffer.data();
    std::size_t dstLeft = buffer.size();
    std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || srcLeft != 0) return false;
    out.assign(buffer.data(), buffer.size() - dstLeft);
    return true;
}

std::string Replace(std::string s, char from, char to) {
    for (char& c : s)
        if (c == from) c = to;
    return s;
}

}  // namespace

bool GbkToUtf8(const Text& gbk, std::string& utf8) { return Convert("UTF-8", "GBK", gbk, utf8); }

bool Utf8ToGbk(const std::string& utf8, Text& gbk) { return Convert("GBK", "UTF-8", utf8, gbk); }

std::string ToPosixPath(const Text& path) {
    // The second byte of a GBK character may be 0x5C: convert first, then swap separators.
    std::string utf8;
    if (!GbkToUtf8(path, utf8)) return std::string();
    return Replace(utf8, '\\', '/');
}

Text FromPosixPath(const std::string& path) {
    Text gbk;
    if (!Utf8ToGbk(Replace(path, '/', '\\'), gbk)) return Text();
    return gbk;
}
