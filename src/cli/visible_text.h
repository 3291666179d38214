// Text from an album service shown on a terminal: control characters (C0, DEL, C1, and so ESC)
// are shown escaped, never sent raw, so that a title cannot recolour, retitle or rewrite the
// user's terminal.
#pragma once

#include <string>
#include <string_view>

namespace ombrik::cli {

// "\x1b" for C0 and DEL, "\u0085" for C1; everything else unchanged (valid UTF-8 stays valid).
std::string VisibleText(std::string_view utf8);

}  // namespace ombrik::cli
