// ScriptEngine's core: creating a heap with the helper script, and evaluating expressions.
// Its other jobs have files of their own: capped_allocator (the heap's memory),
// engine_recovery (fatal errors), fast_path (plain paths without the compiler), json_loader
// (JSON into the heap) and engine_utf8 (engine strings to UTF-8).
#include "json/script_engine.h"

#include <atomic>
#include <cstring>
#include <new>

#include "json/capped_allocator.h"
#include "json/helper_script.h"
#include "json/script_engine_internal.h"

namespace ombrik {

namespace {

std::atomic<std::size_t> enginesCreated{0};

using Want = ScriptEngine::Want;

// The callbacks below run inside duk_safe_call. An engine error unwinds them with longjmp,
// so they hold nothing that needs a destructor.

struct EvalCall {
  std::string_view script;
  Want want;
};

duk_ret_t EvalInHeap(duk_context* ctx, void* udata) {
  const auto* call = static_cast<const EvalCall*>(udata);
  duk_eval_raw(ctx, call->script.data(), call->script.size(),
               DUK_COMPILE_EVAL | DUK_COMPILE_NOSOURCE | DUK_COMPILE_NOFILENAME);
  ConvertResult(ctx, call->want);
  return 1;
}

duk_ret_t CompileHelperInHeap(duk_context* ctx, void*) {
  const std::string_view script = HelperScript();
  duk_compile_lstring(ctx, 0, script.data(), script.size());
  duk_dump_function(ctx);
  return 1;
}

duk_ret_t RunHelperInHeap(duk_context* ctx, void* udata) {
  const auto* bytecode = static_cast<const std::string*>(udata);
  if (bytecode->empty()) {
    const std::string_view script = HelperScript();
    duk_compile_lstring(ctx, 0, script.data(), script.size());
  } else {
    void* buffer = duk_push_fixed_buffer(ctx, bytecode->size());
    std::memcpy(buffer, bytecode->data(), bytecode->size());
    duk_load_function(ctx);
  }
  duk_call(ctx, 0);
  return 0;
}

}  // namespace

// Booleans follow the language's own truth; numbers give themselves, booleans 1 or 0, texts
// their numeric reading and everything else 0; texts give themselves, numbers and booleans
// their text form, and everything else the empty text.
void ConvertResult(duk_context* ctx, Want want) {
  switch (want) {
    case Want::Nothing:
      return;
    case Want::Bool:
      duk_push_boolean(ctx, duk_to_boolean(ctx, -1));
      return;
    case Want::Number:
      switch (duk_get_type(ctx, -1)) {
        case DUK_TYPE_NUMBER:
          return;
        case DUK_TYPE_BOOLEAN:
          duk_push_number(ctx, duk_get_boolean(ctx, -1) ? 1.0 : 0.0);
          return;
        case DUK_TYPE_STRING: {
          double n = duk_to_number(ctx, -1);
          duk_push_number(ctx, n == n ? n : 0.0);
          return;
        }
        default:
          duk_push_number(ctx, 0.0);
          return;
      }
    case Want::Text:
      switch (duk_get_type(ctx, -1)) {
        case DUK_TYPE_STRING:
          return;
        case DUK_TYPE_NUMBER:
        case DUK_TYPE_BOOLEAN:
          duk_to_string(ctx, -1);
          return;
        default:
          duk_push_string(ctx, "");
          return;
      }
  }
}

bool PushGlobal(duk_context* ctx, std::string_view name) {
  duk_push_global_object(ctx);
  if (!duk_has_prop_lstring(ctx, -1, name.data(), name.size())) {
    duk_pop(ctx);
    return false;
  }
  duk_get_prop_lstring(ctx, -1, name.data(), name.size());
  duk_remove(ctx, -2);
  return true;
}

std::shared_ptr<ScriptEngine> ScriptEngine::Create(std::size_t memoryLimit) {
  std::shared_ptr<ScriptEngine> engine(new (std::nothrow) ScriptEngine());
  if (!engine || !engine->Start(memoryLimit) || !engine->RunHelperScript()) return nullptr;
  enginesCreated.fetch_add(1, std::memory_order_relaxed);
  return engine;
}

std::size_t ScriptEngine::CreatedCount() { return enginesCreated.load(std::memory_order_relaxed); }

// Compiling the helper script is most of the cost of a new engine, so it is compiled once and
// every new heap loads the bytecode. Empty when that fails; heaps then compile the source.
std::string ScriptEngine::CompileHelperScript() {
  ScriptEngine scratch;
  if (!scratch.Start(kDefaultMemoryLimit)) return {};
  std::string bytecode;
  if (scratch.Protected(CompileHelperInHeap, nullptr, 0, 1) == DUK_EXEC_SUCCESS && scratch.alive()) {
    duk_size_t size = 0;
    const void* data = duk_get_buffer_data(scratch.ctx_, -1, &size);
    if (data) bytecode.assign(static_cast<const char*>(data), size);
  }
  if (scratch.alive()) duk_pop(scratch.ctx_);
  return bytecode;
}

bool ScriptEngine::RunHelperScript() {
  static const std::string bytecode = CompileHelperScript();
  auto* udata = const_cast<std::string*>(&bytecode);
  return Protected(RunHelperInHeap, udata, 0, 0) == DUK_EXEC_SUCCESS && alive();
}

bool ScriptEngine::Evaluate(std::string_view script, Want want) {
  bool ok = false;
  if (EvaluateFast(script, want, ok)) return ok;
  EvalCall call{script, want};
  duk_int_t rc = Protected(EvalInHeap, &call, 0, 1);
  return rc == DUK_EXEC_SUCCESS && alive();
}

bool ScriptEngine::Run(std::string_view script) {
  bool ok = Evaluate(script, Want::Nothing);
  if (alive()) duk_pop(ctx_);
  return ok;
}

bool ScriptEngine::EvalBool(std::string_view script) {
  bool ok = Evaluate(script, Want::Bool);
  if (!alive()) return false;
  bool result = ok && duk_get_boolean(ctx_, -1);
  duk_pop(ctx_);
  return result;
}

double ScriptEngine::EvalNumber(std::string_view script) {
  bool ok = Evaluate(script, Want::Number);
  if (!alive()) return 0.0;
  double result = ok ? duk_get_number(ctx_, -1) : 0.0;
  duk_pop(ctx_);
  return result;
}

bool ScriptEngine::EvalText(std::string_view script, std::string& out) {
  out.clear();
  bool ok = Evaluate(script, Want::Text);
  if (!alive()) return false;
  if (ok) {
    duk_size_t len = 0;
    const char* s = duk_get_lstring(ctx_, -1, &len);
    out = EngineStringToUtf8(std::string_view(s ? s : "", s ? len : 0));
  }
  duk_pop(ctx_);
  return ok;
}

}  // namespace ombrik
