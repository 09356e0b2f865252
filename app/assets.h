#pragma once
// Access to the product assets embedded in the running image.
#include "system/text.h"

// The bytes of an RCDATA resource of the main module; empty when missing.
ByteBuffer LoadAsset(int resourceId);
