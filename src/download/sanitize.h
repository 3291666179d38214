// Cleaning a track title for use in a file name.
#pragma once

#include "text/text.h"

namespace ombrik {

// Removes every space (ASCII and full width) and the characters ' / \ * | < > . : % ?,
// character by character: a trail byte 0x5C or 0x7C of a double-byte character stays.
// Nothing else changes; a double quote stays.
Text SanitizeFileName(const Text& title);

}  // namespace ombrik
