#include "payload/embedded_payload.h"

// Only the Windows image carries a payload.
ByteSpan EmbeddedContainer() { return ByteSpan(); }
