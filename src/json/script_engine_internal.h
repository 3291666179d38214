// Helpers that more than one of the script engine's source files call inside the heap.
#pragma once

#include <string>
#include <string_view>

#include <duktape.h>

#include "json/script_engine.h"

namespace ombrik {

// Leaves the value on top of the stack converted to the wanted kind, without running script.
void ConvertResult(duk_context* ctx, ScriptEngine::Want want);

// Pushes a global the way a script reads it; false (nothing pushed) where the script would
// raise a ReferenceError.
bool PushGlobal(duk_context* ctx, std::string_view name);

}  // namespace ombrik
