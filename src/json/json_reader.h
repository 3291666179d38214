// A JSON reader of our own that builds a native value tree (json_value.h).
//
// The engine's own JSON parser converts every number with its exact big-number routine, which
// costs more than everything else in reading an answer page, and needs an engine. This reader
// takes the plain, common JSON an answer page is made of and builds the very values the
// engine's parser would (same types, same strings byte for byte, same numbers bit for bit,
// same key order). Anything it does not take on, it declines without a word, and the caller
// parses the text with the engine: acceptance, rejection, limits and error messages therefore
// stay the engine's.
#pragma once

#include <cstddef>
#include <string_view>

#include "json/json_value.h"

namespace ombrik {

// Reads `json` into `tree.root`; false where the engine's parser must decide. With
// `unwrapString`, a string value is read as JSON once more. A text whose values would take
// more than `memoryLimit` bytes is declined too.
bool ReadJson(std::string_view json, JsonTree& tree, bool unwrapString, std::size_t memoryLimit);

// The number the engine makes of the JSON number text `number` (which must match the JSON
// grammar); false where this reader leaves the conversion to the engine.
bool EngineNumberFromText(std::string_view number, double& value);

}  // namespace ombrik
