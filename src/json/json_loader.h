// Native JSON values into a script engine's heap, built exactly as the engine's own parser
// would build them.
#pragma once

#include <string_view>

#include <duktape.h>

#include "json/json_value.h"

namespace ombrik {

// Runs inside a protected call; may throw an engine error (exhausted memory, say).
void PushJsonValue(duk_context* ctx, const JsonValue& value);

// Our reader's value of `json` pushed (true), or nothing pushed (false) where the engine's
// parser must decide: how the tests and fuzz targets compare the two.
bool PushJsonFast(duk_context* ctx, std::string_view json);

}  // namespace ombrik
