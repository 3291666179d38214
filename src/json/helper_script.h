// The helper script every new engine runs before the document variable is declared.
#pragma once

#include <string_view>

namespace ombrik {

std::string_view HelperScript();

}  // namespace ombrik
