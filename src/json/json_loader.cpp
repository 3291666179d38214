// Loading JSON into the engine: a native value as it is, or a text through the engine's own
// parser, whose errors are then described in its own words.
#include "json/json_loader.h"

#include <string>

#include "json/json_reader.h"
#include "json/script_engine.h"
#include "text/utf8.h"

namespace ombrik {

void PushJsonValue(duk_context* ctx, const JsonValue& value) {
  switch (value.kind) {
    case JsonKind::Null:
      duk_push_null(ctx);
      return;
    case JsonKind::False:
      duk_push_false(ctx);
      return;
    case JsonKind::True:
      duk_push_true(ctx);
      return;
    case JsonKind::Number:
      duk_push_number(ctx, value.number);
      return;
    case JsonKind::String:
      duk_push_lstring(ctx, value.chars, value.size);
      return;
    case JsonKind::Array:
      duk_require_stack(ctx, 2);
      duk_push_array(ctx);
      for (std::uint32_t i = 0; i < value.size; ++i) {
        PushJsonValue(ctx, value.items[i]);
        duk_put_prop_index(ctx, -2, i);
      }
      return;
    case JsonKind::Object:
      // In the order the text named the keys, as the parser stores them.
      duk_require_stack(ctx, 3);
      duk_push_object(ctx);
      for (std::uint32_t i = 0; i < value.size; ++i) {
        const JsonMember& member = value.members[i];
        duk_push_lstring(ctx, member.key.chars, member.key.size);
        PushJsonValue(ctx, member.value);
        duk_put_prop(ctx, -3);
      }
      return;
  }
}

bool PushJsonFast(duk_context* ctx, std::string_view json) {
  JsonTree tree;
  if (!ReadJson(json, tree, false, ScriptEngine::kDefaultMemoryLimit)) return false;
  PushJsonValue(ctx, tree.root);
  return true;
}

namespace {

struct LoadCall {
  std::string_view variable;
  std::string_view json;
  bool unwrapString;
};

duk_ret_t LoadJsonInHeap(duk_context* ctx, void* udata) {
  const auto* call = static_cast<const LoadCall*>(udata);
  duk_push_lstring(ctx, call->json.data(), call->json.size());
  duk_json_decode(ctx, -1);
  if (call->unwrapString && duk_is_string(ctx, -1)) duk_json_decode(ctx, -1);
  duk_put_global_lstring(ctx, call->variable.data(), call->variable.size());
  return 0;
}

struct ValueCall {
  std::string_view variable;
  const JsonValue* value;
};

duk_ret_t LoadValueInHeap(duk_context* ctx, void* udata) {
  const auto* call = static_cast<const ValueCall*>(udata);
  PushJsonValue(ctx, *call->value);
  duk_put_global_lstring(ctx, call->variable.data(), call->variable.size());
  return 0;
}

// Stack in: the error value. Out: its name and message as strings.
duk_ret_t DescribeError(duk_context* ctx, void*) {
  if (duk_is_object(ctx, 0)) {
    duk_get_prop_string(ctx, 0, "name");
    duk_safe_to_string(ctx, -1);
    duk_get_prop_string(ctx, 0, "message");
    duk_safe_to_string(ctx, -1);
  } else {
    duk_push_string(ctx, "Error");
    duk_dup(ctx, 0);
    duk_safe_to_string(ctx, -1);
  }
  return 2;
}

std::string StringAt(duk_context* ctx, duk_idx_t idx) {
  duk_size_t len = 0;
  const char* s = duk_get_lstring(ctx, idx, &len);
  return s ? std::string(s, len) : std::string();
}

// The JSON parser names the failing position as "... (at offset N)".
bool OffsetFromMessage(const std::string& message, std::size_t& offset) {
  static constexpr std::string_view kMarker = "at offset ";
  std::size_t at = message.rfind(kMarker);
  if (at == std::string::npos) return false;
  std::size_t i = at + kMarker.size();
  if (i >= message.size() || message[i] < '0' || message[i] > '9') return false;
  offset = 0;
  for (; i < message.size() && message[i] >= '0' && message[i] <= '9'; ++i)
    offset = offset * 10 + static_cast<std::size_t>(message[i] - '0');
  return true;
}

const EngineError kEngineFailed{0, "Error", "the script engine failed", 0, false};

}  // namespace

bool ScriptEngine::LoadJson(std::string_view variable, std::string_view json, bool unwrapString, EngineError* error) {
  LoadCall call{variable, json, unwrapString};
  duk_int_t rc = Protected(LoadJsonInHeap, &call, 0, 1);
  if (!alive()) {
    if (error) *error = kEngineFailed;
    return false;
  }
  if (rc == DUK_EXEC_SUCCESS) {
    duk_pop(ctx_);
    return true;
  }
  if (error) {
    *error = EngineError{};
    error->code = duk_get_error_code(ctx_, -1);
    if (Protected(DescribeError, nullptr, 1, 2) == DUK_EXEC_SUCCESS && alive()) {
      error->name = EngineStringToUtf8(StringAt(ctx_, -2));
      error->message = EngineStringToUtf8(StringAt(ctx_, -1));
      error->hasOffset = OffsetFromMessage(error->message, error->offset);
      duk_pop_2(ctx_);
    } else if (alive()) {
      duk_pop(ctx_);
    }
    return false;
  }
  duk_pop(ctx_);
  return false;
}

bool ScriptEngine::LoadValue(std::string_view variable, const JsonValue& value) {
  ValueCall call{variable, &value};
  const duk_int_t rc = Protected(LoadValueInHeap, &call, 0, 0);
  return rc == DUK_EXEC_SUCCESS && alive();
}

}  // namespace ombrik
