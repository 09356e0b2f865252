#pragma once
// The payload the installer carries in its own image: an RCDATA resource
// holding the container (dimension 1, byte length, packed envelope).
#include "payload/envelope.h"

// Resource name of the container, used by the generated resource script.
#define VANTEL_PAYLOAD_RESOURCE "VANTELPAYLOAD"

// The container's bytes where the image holds them (no copy); empty when
// there is none.
ByteSpan EmbeddedContainer();
// The packed envelope inside the container; empty when there is none.
ByteSpan EmbeddedPayload();

#ifdef _WIN32
#include <windows.h>
// The container resource of a loaded image (or one loaded as data).
ByteSpan ContainerInModule(HMODULE module);
#endif
