#include "payload/embedded_payload.h"

ByteSpan EmbeddedPayload() {
    ByteSpan container = EmbeddedContainer();
    if (!container.data) return ByteSpan();
    return ContainerContents(container.data, container.size);
}
