// Cleaning a track title for use in a file name.
#pragma once

#include "text/text.h"

namespace ombrik {

// Removes every space (ASCII and full width) and the characters ' / \ * | < > . : % ?,
// character by character: a trail byte 0x5C or 0x7C of a double-byte character stays.
// Nothing else changes; a double quote stays. A '/' byte that the character walk took for the
// trail of a lead byte goes too (see DropSlashBytes).
Text SanitizeFileName(const Text& title);

// Removes every 0x2F byte. No code page 936 character ends in 0x2F, so one that survives the
// character walk stands after a lead byte it cannot pair with; the converter to UTF-8 reads
// that pair as two characters and the file system would see a folder separator.
Text DropSlashBytes(const Text& text);

}  // namespace ombrik
