// ScriptEngine: one Duktape heap with the helper script loaded, behind calls that never throw,
// abort or leak. JsonDocument shares one engine between its copies.
//
// Strings cross this boundary as UTF-8. What comes back is proper UTF-8 even where the engine
// holds surrogate pairs encoded separately (CESU-8) or lone surrogates (those become U+FFFD).
#pragma once

#include <csetjmp>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <duktape.h>

namespace ombrik {

struct JsonValue;

// Details of the last failed load, in the engine's own words.
struct EngineError {
  int code = 0;            // Duktape's error code (DUK_ERR_xxx)
  std::string name;        // "SyntaxError", "RangeError", ...
  std::string message;     // the error message
  std::size_t offset = 0;  // byte offset in the loaded text, when the message names one
  bool hasOffset = false;
};

class ScriptEngine {
 public:
  // Enough for any answer page many times over, and small enough that a hostile answer
  // cannot take the machine's memory.
  static constexpr std::size_t kDefaultMemoryLimit = std::size_t{256} << 20;

  // A new heap with the helper script run in it; nullptr when the heap cannot be created.
  static std::shared_ptr<ScriptEngine> Create(std::size_t memoryLimit = kDefaultMemoryLimit);
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  // Evaluates `script` as eval code in the global scope. Every failure (syntax error,
  // run-time error, exhausted memory) gives the default of the wanted kind.
  bool Run(std::string_view script);
  bool EvalBool(std::string_view script);
  double EvalNumber(std::string_view script);
  // false when the evaluation failed; `out` then is empty.
  bool EvalText(std::string_view script, std::string& out);

  // Remembers the global str_reg and the string method replace as they are now, so that
  // reads of the form path.toString().replace(str_reg, '\\') can skip the pattern matcher
  // for as long as both stay the same.
  void NotePlaceholderPattern();

  // Parses `json` with the engine's own JSON parser and stores the value in the global
  // `variable`; with `unwrapString`, a string value is parsed as JSON once more. Never runs
  // the text as script. On failure the global is left as it was and `error` (when given)
  // receives the details.
  bool LoadJson(std::string_view variable, std::string_view json, bool unwrapString, EngineError* error);
  // Stores a native value in the global `variable`, as the engine's parser would have built
  // it; false when the heap has no room for it.
  bool LoadValue(std::string_view variable, const JsonValue& value);

  // How many engines this process has created: lets tests and benchmarks see that a read
  // needed none.
  static std::size_t CreatedCount();

  // Whether the heap is usable; false after a fatal error inside the engine.
  bool alive() const { return ctx_ != nullptr; }
  std::size_t bytesInUse() const;

  // The heap's capped allocator (capped_allocator.h).
  struct Allocator;
  // The kind of result an evaluation is converted to.
  enum class Want { Nothing, Bool, Number, Text };

 private:
  ScriptEngine() = default;
  // The bare heap; Create then runs the helper script in it.
  bool Start(std::size_t memoryLimit);
  bool RunHelperScript();
  // Evaluates `script`, leaving one value of the wanted kind on the stack (unless the heap
  // died); false when the evaluation failed.
  bool Evaluate(std::string_view script, Want want);
  // The same for the shapes around a plain member path that need no compiler; false when
  // `script` is not one of them. `ok` receives the outcome.
  bool EvaluateFast(std::string_view script, Want want, bool& ok);
  static std::string CompileHelperScript();
  // duk_safe_call with recovery from the engine's fatal handler. Returns DUK_EXEC_SUCCESS
  // or DUK_EXEC_ERROR; the results (or the error) are on the stack unless the heap died.
  duk_int_t Protected(duk_safe_call_function fn, void* udata, duk_idx_t nargs, duk_idx_t nrets);
  void Abandon();

  static void OnFatal(void* udata, const char* msg);

  std::unique_ptr<Allocator> allocator_;
  duk_context* ctx_ = nullptr;
  std::jmp_buf* recover_ = nullptr;
};

// Engine strings to proper UTF-8: surrogate pairs encoded separately become one 4-byte
// sequence, lone surrogates and invalid bytes become U+FFFD.
std::string EngineStringToUtf8(std::string_view engineString);

}  // namespace ombrik
