// Reading JSON two ways in a Duktape heap, our reader and the engine's parser, and a dump of
// the resulting value that tells apart everything a script could: types, string bytes,
// number bits (so -0 and rounding show), own keys in order with their attributes, and
// prototypes. Shared by the tests and the fuzz target.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <duktape.h>

#include "json/json_loader.h"

namespace ombrik::testing {

// Appends the dump of the value at `idx`; objects nested deeper than `depth` are cut.
inline void DumpEngineValue(duk_context* ctx, duk_idx_t idx, std::string& out, int depth = 0) {
  idx = duk_normalize_index(ctx, idx);
  char buf[64];
  switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_UNDEFINED:
      out += "u";
      return;
    case DUK_TYPE_NULL:
      out += "n";
      return;
    case DUK_TYPE_BOOLEAN:
      out += duk_get_boolean(ctx, idx) ? "T" : "F";
      return;
    case DUK_TYPE_NUMBER: {
      const double d = duk_get_number(ctx, idx);
      std::uint64_t bits = 0;
      std::memcpy(&bits, &d, sizeof bits);
      std::snprintf(buf, sizeof buf, "#%016llx", static_cast<unsigned long long>(bits));
      out += buf;
      return;
    }
    case DUK_TYPE_STRING: {
      duk_size_t len = 0;
      const char* s = duk_get_lstring(ctx, idx, &len);
      out += "s" + std::to_string(len) + ":";
      out.append(s, len);
      return;
    }
    case DUK_TYPE_OBJECT:
      break;
    default:
      out += "?";
      return;
  }
  if (depth > 300) {
    out += "...";
    return;
  }
  duk_require_stack(ctx, 8);
  out += duk_is_array(ctx, idx) ? "A" : "O";
  // The prototype must be the standard one of its kind.
  duk_get_prototype(ctx, idx);
  duk_get_global_string(ctx, duk_is_array(ctx, idx) ? "Array" : "Object");
  duk_get_prop_string(ctx, -1, "prototype");
  out += duk_strict_equals(ctx, -1, -3) ? "" : "!proto";
  duk_pop_3(ctx);
  out += "{";
  duk_enum(ctx, idx,
           DUK_ENUM_OWN_PROPERTIES_ONLY | DUK_ENUM_INCLUDE_NONENUMERABLE | DUK_ENUM_INCLUDE_SYMBOLS |
               DUK_ENUM_INCLUDE_HIDDEN);
  while (duk_next(ctx, -1, 0)) {
    // [... enum key]
    DumpEngineValue(ctx, -1, out, depth + 1);
    duk_dup(ctx, -1);
    duk_get_prop_desc(ctx, idx, 0);  // [... enum key desc]
    duk_get_prop_string(ctx, -1, "writable");
    duk_get_prop_string(ctx, -2, "enumerable");
    duk_get_prop_string(ctx, -3, "configurable");
    std::snprintf(buf, sizeof buf, "(%d%d%d)=", duk_to_boolean(ctx, -3), duk_to_boolean(ctx, -2),
                  duk_to_boolean(ctx, -1));
    out += buf;
    duk_pop_3(ctx);
    duk_get_prop_string(ctx, -1, "value");
    DumpEngineValue(ctx, -1, out, depth + 1);
    out += ",";
    duk_pop_3(ctx);
  }
  duk_pop(ctx);
  out += "}";
}

struct ReadResult {
  bool taken = false;  // whether the reader took the text (our reader) / parsed it (engine)
  std::string dump;    // the value, when taken
};

inline duk_ret_t ReadWithOurs(duk_context* ctx, void* udata) {
  auto* io = static_cast<std::pair<std::string_view, ReadResult>*>(udata);
  io->second.taken = PushJsonFast(ctx, io->first);
  if (io->second.taken) DumpEngineValue(ctx, -1, io->second.dump);
  return 0;
}

inline duk_ret_t ReadWithEngine(duk_context* ctx, void* udata) {
  auto* io = static_cast<std::pair<std::string_view, ReadResult>*>(udata);
  duk_push_lstring(ctx, io->first.data(), io->first.size());
  duk_json_decode(ctx, -1);
  io->second.taken = true;
  DumpEngineValue(ctx, -1, io->second.dump);
  return 0;
}

// Reads `json` in `ctx` with our reader or the engine's parser. A read that throws counts as
// not taken.
inline ReadResult ReadJson(duk_context* ctx, std::string_view json, bool ours) {
  std::pair<std::string_view, ReadResult> io{json, {}};
  if (duk_safe_call(ctx, ours ? ReadWithOurs : ReadWithEngine, &io, 0, 1) != DUK_EXEC_SUCCESS) io.second = ReadResult{};
  duk_pop(ctx);
  return io.second;
}

}  // namespace ombrik::testing
