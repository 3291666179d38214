// Expressions around a plain member path, evaluated without the compiler.
//
// Reading a value costs a compile per expression, several times the lookup itself. The
// shapes JsonDocument builds around a plain path (names and decimal indices only, such as
// da.data.trackDetailInfos[3].trackInfo.title) are therefore evaluated through the engine's
// property API: the same global lookup, the same property reads and the same method calls the
// compiled expression makes, so the result is the same. Anything else goes to the compiler.
#include <string_view>

#include "json/member_path.h"
#include "json/script_engine.h"
#include "json/script_engine_internal.h"

namespace ombrik {
namespace {

using Want = ScriptEngine::Want;

// The callbacks below run inside duk_safe_call. An engine error unwinds them with longjmp,
// so they hold nothing that needs a destructor.

enum class FastShape { NotNull, IsNull, PlainText };

// The pieces of ResolvePath's test, TypeOf's null test and GetText's plain form.
constexpr std::string_view kNotNullTail = " != null";
constexpr std::string_view kIsNullTail = " == null";
constexpr std::string_view kPlainTextTail = ".toString().replace(str_reg, '\\\\')";

bool MatchFastShape(std::string_view script, Want want, FastShape& shape, MemberPath& path) {
  std::string_view tail;
  if (want == Want::Bool && script.ends_with(kNotNullTail)) {
    shape = FastShape::NotNull;
    tail = kNotNullTail;
  } else if (want == Want::Bool && script.ends_with(kIsNullTail)) {
    shape = FastShape::IsNull;
    tail = kIsNullTail;
  } else if (want == Want::Text && script.ends_with(kPlainTextTail)) {
    shape = FastShape::PlainText;
    tail = kPlainTextTail;
  } else {
    return false;
  }
  return ParseMemberPath(script.substr(0, script.size() - tail.size()), path);
}

struct FastCall {
  const MemberPath* path;
  FastShape shape;
  Want want;
  bool failed;  // where the compiled expression would have thrown
};

// A member of null or undefined is a TypeError.
bool PushPathValue(duk_context* ctx, const MemberPath& path) {
  if (!PushGlobal(ctx, path.root)) return false;
  for (int i = 0; i < path.count; ++i) {
    if (duk_is_null_or_undefined(ctx, -1)) return false;
    const MemberPath::Step& step = path.steps[i];
    if (step.name.empty()) {
      duk_get_prop_index(ctx, -1, step.index);
    } else {
      duk_get_prop_lstring(ctx, -1, step.name.data(), step.name.size());
    }
    duk_remove(ctx, -2);
  }
  return true;
}

// The placeholder pattern and the string method that reads it out, as they were when the
// document's engine was set up; kept in the heap stash.
constexpr const char* kStashPattern = "placeholderPattern";
constexpr const char* kStashReplace = "placeholderReplace";

duk_ret_t NotePlaceholderInHeap(duk_context* ctx, void*) {
  duk_push_heap_stash(ctx);
  duk_get_global_string(ctx, "str_reg");
  duk_put_prop_string(ctx, -2, kStashPattern);
  duk_push_string(ctx, "");
  duk_get_prop_string(ctx, -1, "replace");
  duk_put_prop_string(ctx, -3, kStashReplace);
  return 0;
}

// Stack: [... text]. When text.replace and str_reg are still the ones the engine was set up
// with, the call can only turn each U+2400 into a backslash: do that here instead of running
// the pattern (the engine's pattern matcher costs more than the rest of the read together).
// Leaves the result on the stack and returns true, or leaves the stack alone and returns false.
bool ReplacePlaceholderDirectly(duk_context* ctx) {
  const duk_idx_t text = duk_get_top_index(ctx);
  duk_push_heap_stash(ctx);                     // [... text stash]
  duk_get_prop_string(ctx, -1, kStashReplace);  // [... text stash replace0]
  duk_get_prop_string(ctx, text, "replace");    // [... text stash replace0 replace]
  bool original = duk_is_function(ctx, -1) && duk_strict_equals(ctx, -1, -2);
  duk_pop_2(ctx);
  duk_get_prop_string(ctx, -1, kStashPattern);  // [... text stash pattern0]
  if (!original || !PushGlobal(ctx, "str_reg")) {
    duk_pop_2(ctx);
    return false;
  }
  original = duk_is_object(ctx, -1) && duk_strict_equals(ctx, -1, -2);
  duk_pop(ctx);  // [... text stash pattern0]
  if (!original) {
    duk_pop_2(ctx);
    return false;
  }
  // A global pattern's search leaves lastIndex at 0.
  duk_push_int(ctx, 0);
  duk_put_prop_string(ctx, -2, "lastIndex");
  duk_pop_2(ctx);  // [... text]

  static constexpr std::string_view kPlaceholder = "\xE2\x90\x80";  // U+2400
  duk_size_t len = 0;
  const char* data = duk_get_lstring(ctx, text, &len);
  const std::string_view view(data, len);
  if (view.find(kPlaceholder) == std::string_view::npos) return true;
  // Rebuilt in an engine buffer, which the engine frees when a later error unwinds this.
  auto* out = static_cast<char*>(duk_push_dynamic_buffer(ctx, len));
  std::size_t n = 0;
  for (std::size_t i = 0; i < len;) {
    if (view.compare(i, kPlaceholder.size(), kPlaceholder) == 0) {
      out[n++] = '\\';
      i += kPlaceholder.size();
    } else {
      out[n++] = view[i++];
    }
  }
  duk_push_lstring(ctx, out, n);
  duk_replace(ctx, text);
  duk_pop(ctx);
  return true;
}

duk_ret_t FastEvalInHeap(duk_context* ctx, void* udata) {
  auto* call = static_cast<FastCall*>(udata);
  call->failed = true;
  if (!PushPathValue(ctx, *call->path)) return 0;
  switch (call->shape) {
    case FastShape::NotNull:
      duk_push_boolean(ctx, !duk_is_null_or_undefined(ctx, -1));
      break;
    case FastShape::IsNull:
      duk_push_boolean(ctx, duk_is_null_or_undefined(ctx, -1));
      break;
    case FastShape::PlainText:
      // value.toString().replace(str_reg, '\\')
      if (duk_is_null_or_undefined(ctx, -1)) return 0;
      duk_push_string(ctx, "toString");
      duk_call_prop(ctx, -2, 0);
      if (duk_is_null_or_undefined(ctx, -1)) return 0;
      if (duk_is_string(ctx, -1) && ReplacePlaceholderDirectly(ctx)) break;
      duk_push_string(ctx, "replace");
      if (!PushGlobal(ctx, "str_reg")) return 0;
      duk_push_string(ctx, "\\");
      duk_call_prop(ctx, -4, 2);
      break;
  }
  ConvertResult(ctx, call->want);
  call->failed = false;
  return 1;
}

}  // namespace

bool ScriptEngine::EvaluateFast(std::string_view script, Want want, bool& ok) {
  MemberPath path;
  FastShape shape;
  if (!MatchFastShape(script, want, shape, path)) return false;
  FastCall call{&path, shape, want, true};
  const duk_int_t rc = Protected(FastEvalInHeap, &call, 0, 1);
  ok = rc == DUK_EXEC_SUCCESS && !call.failed && alive();
  return true;
}

void ScriptEngine::NotePlaceholderPattern() { Protected(NotePlaceholderInHeap, nullptr, 0, 0); }

}  // namespace ombrik
