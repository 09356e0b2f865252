#include "app/assets.h"

#include <windows.h>

ByteBuffer LoadAsset(int resourceId) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!info) return {};
    HGLOBAL loaded = LoadResource(module, info);
    DWORD size = SizeofResource(module, info);
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
    if (!bytes || size == 0) return {};
    return ByteBuffer(bytes, bytes + size);
}
