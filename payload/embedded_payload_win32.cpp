#include <windows.h>

#include "payload/embedded_payload.h"

ByteSpan EmbeddedContainer() { return ContainerInModule(GetModuleHandleA(nullptr)); }

ByteSpan ContainerInModule(HMODULE image) {
    // A loaded resource stays mapped for the life of the image.
    HRSRC resource = FindResourceA(image, VANTEL_PAYLOAD_RESOURCE, RT_RCDATA);
    if (!resource) return ByteSpan();
    HGLOBAL loaded = LoadResource(image, resource);
    DWORD size = SizeofResource(image, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || size == 0) return ByteSpan();
    return ByteSpan{static_cast<const std::uint8_t*>(bytes), size};
}
