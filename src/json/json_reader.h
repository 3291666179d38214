// A JSON reader of our own that builds values straight in a Duktape heap.
//
// The engine's own JSON parser converts every number with its exact big-number routine, which
// costs more than everything else in reading an answer page. This reader takes the plain,
// common JSON an answer page is made of and builds the very values the engine's parser would
// (same types, same strings byte for byte, same numbers bit for bit, same key order, keys as
// own properties). Anything it does not take on, it declines without a word, and the caller
// parses the text with the engine: acceptance, rejection, limits and error messages therefore
// stay the engine's.
#pragma once

#include <string_view>

#include <duktape.h>

namespace ombrik {

// Runs inside a protected call. Pushes the value of `json` and returns true, or leaves the
// stack as it was and returns false where the engine's parser must decide. May throw an
// engine error (exhausted memory, say); the caller then parses with the engine too.
bool PushJsonFast(duk_context* ctx, std::string_view json);

}  // namespace ombrik
