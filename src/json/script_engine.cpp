#include "json/script_engine.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "json/helper_script.h"
#include "json/json_reader.h"

namespace ombrik {

// The heap's memory: every block carries a header that links it into a list, so the heap's
// use can be capped and, should the engine ever die in its fatal handler, every block can
// still be freed without the engine's help.
struct ScriptEngine::Allocator {
  struct alignas(16) Block {
    Block* prev;
    Block* next;
    std::size_t size;
  };

  explicit Allocator(std::size_t cap) : limit(cap) {}
  ~Allocator() { FreeAll(); }

  static Block* HeaderOf(void* ptr) { return static_cast<Block*>(ptr) - 1; }

  void Link(Block* b) {
    b->prev = nullptr;
    b->next = head;
    if (head) head->prev = b;
    head = b;
  }
  void Unlink(Block* b) {
    if (b->prev) b->prev->next = b->next; else head = b->next;
    if (b->next) b->next->prev = b->prev;
  }

  void* Alloc(std::size_t size) {
    if (size > limit - used) return nullptr;
    auto* b = static_cast<Block*>(std::malloc(sizeof(Block) + size));
    if (!b) return nullptr;
    b->size = size;
    Link(b);
    used += size;
    return b + 1;
  }

  void* Realloc(void* ptr, std::size_t size) {
    if (!ptr) return Alloc(size);
    if (size == 0) {
      Free(ptr);
      return nullptr;
    }
    Block* old = HeaderOf(ptr);
    std::size_t oldSize = old->size;
    if (size > oldSize && size - oldSize > limit - used) return nullptr;
    Unlink(old);
    auto* b = static_cast<Block*>(std::realloc(old, sizeof(Block) + size));
    if (!b) {
      Link(old);
      return nullptr;
    }
    b->size = size;
    Link(b);
    used = used - oldSize + size;
    return b + 1;
  }

  void Free(void* ptr) {
    if (!ptr) return;
    Block* b = HeaderOf(ptr);
    Unlink(b);
    used -= b->size;
    std::free(b);
  }

  void FreeAll() {
    while (head) {
      Block* next = head->next;
      std::free(head);
      head = next;
    }
    used = 0;
  }

  std::size_t limit;
  std::size_t used = 0;
  Block* head = nullptr;
  std::jmp_buf* recover = nullptr;  // armed while a call into the engine is under way
};

namespace {

void* HeapAlloc(void* udata, duk_size_t size) {
  return static_cast<ScriptEngine::Allocator*>(udata)->Alloc(size);
}
void* HeapRealloc(void* udata, void* ptr, duk_size_t size) {
  return static_cast<ScriptEngine::Allocator*>(udata)->Realloc(ptr, size);
}
void HeapFree(void* udata, void* ptr) { static_cast<ScriptEngine::Allocator*>(udata)->Free(ptr); }

// The callbacks below run inside duk_safe_call. An engine error unwinds them with longjmp,
// so they hold nothing that needs a destructor.

using Want = ScriptEngine::Want;

// Leaves the value on top of the stack converted to the wanted kind. Booleans follow the
// language's own truth; numbers give themselves, booleans 1 or 0, texts their numeric reading
// and everything else 0; texts give themselves, numbers and booleans their text form, and
// everything else the empty text. No conversion runs script.
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

// ---- expressions around a plain member path, without the compiler ----------------------------
//
// Reading a value costs a compile per expression, several times the lookup itself. The
// shapes JsonDocument builds around a plain path (names and decimal indices only, such as
// da.data.trackDetailInfos[3].trackInfo.title) are therefore evaluated through the engine's
// property API: the same global lookup, the same property reads and the same method calls the
// compiled expression makes, so the result is the same. Anything else goes to the compiler.

struct MemberChain {
  struct Step {
    std::string_view name;  // empty for an index
    duk_uarridx_t index;
  };
  static constexpr int kMaxSteps = 32;
  std::string_view root;
  Step steps[kMaxSteps];
  int count = 0;
};

bool IsIdentifierStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
}
bool IsIdentifierPart(char c) { return IsIdentifierStart(c) || (c >= '0' && c <= '9'); }

// Names the compiler reads as something other than a plain name, or that are better left to
// it.
bool IsReservedWord(std::string_view word) {
  // All of them are 2 to 10 lowercase letters; most names fail that at once.
  if (word.size() < 2 || word.size() > 10) return false;
  for (char c : word)
    if (c < 'a' || c > 'z') return false;
  static constexpr std::string_view kWords[] = {
      "break", "case", "catch", "class", "const", "continue", "debugger", "default", "delete",
      "do", "else", "enum", "export", "extends", "false", "finally", "for", "function", "if",
      "implements", "import", "in", "instanceof", "interface", "let", "new", "null", "package",
      "private", "protected", "public", "return", "static", "super", "switch", "this", "throw",
      "true", "try", "typeof", "var", "void", "while", "with", "yield", "arguments", "eval"};
  // Length and first letter rule out nearly all of them without a string compare.
  for (std::string_view w : kWords)
    if (w.size() == word.size() && w[0] == word[0] && w == word) return true;
  return false;
}

std::size_t IdentifierLength(std::string_view text, std::size_t at) {
  if (at >= text.size() || !IsIdentifierStart(text[at])) return 0;
  std::size_t end = at + 1;
  while (end < text.size() && IsIdentifierPart(text[end])) ++end;
  return IsReservedWord(text.substr(at, end - at)) ? 0 : end - at;
}

bool ParseMemberChain(std::string_view text, MemberChain& chain) {
  std::size_t len = IdentifierLength(text, 0);
  if (len == 0) return false;
  chain.root = text.substr(0, len);
  chain.count = 0;
  std::size_t at = len;
  while (at < text.size()) {
    if (chain.count == MemberChain::kMaxSteps) return false;
    MemberChain::Step& step = chain.steps[chain.count++];
    if (text[at] == '.') {
      len = IdentifierLength(text, at + 1);
      if (len == 0) return false;
      step = {text.substr(at + 1, len), 0};
      at += 1 + len;
    } else if (text[at] == '[') {
      // Decimal indices only: a leading zero would make an octal literal.
      std::size_t digits = 0;
      duk_uarridx_t index = 0;
      while (at + 1 + digits < text.size() && digits < 9 && text[at + 1 + digits] >= '0' &&
             text[at + 1 + digits] <= '9') {
        index = index * 10 + static_cast<duk_uarridx_t>(text[at + 1 + digits] - '0');
        ++digits;
      }
      if (digits == 0 || (digits > 1 && text[at + 1] == '0')) return false;
      if (at + 1 + digits >= text.size() || text[at + 1 + digits] != ']') return false;
      step = {std::string_view(), index};
      at += digits + 2;
    } else {
      return false;
    }
  }
  return true;
}

enum class FastShape { NotNull, IsNull, PlainText };

// The pieces of ResolvePath's test, TypeOf's null test and GetText's plain form.
constexpr std::string_view kNotNullTail = " != null";
constexpr std::string_view kIsNullTail = " == null";
constexpr std::string_view kPlainTextTail = ".toString().replace(str_reg, '\\\\')";

bool MatchFastShape(std::string_view script, Want want, FastShape& shape, MemberChain& chain) {
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
  return ParseMemberChain(script.substr(0, script.size() - tail.size()), chain);
}

struct FastCall {
  const MemberChain* chain;
  FastShape shape;
  Want want;
  bool failed;  // where the compiled expression would have thrown
};

// A global name as the compiled expression reads it; a missing one is a ReferenceError.
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

// A member of null or undefined is a TypeError.
bool PushChainValue(duk_context* ctx, const MemberChain& chain) {
  if (!PushGlobal(ctx, chain.root)) return false;
  for (int i = 0; i < chain.count; ++i) {
    if (duk_is_null_or_undefined(ctx, -1)) return false;
    const MemberChain::Step& step = chain.steps[i];
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
  duk_push_heap_stash(ctx);                         // [... text stash]
  duk_get_prop_string(ctx, -1, kStashReplace);      // [... text stash replace0]
  duk_get_prop_string(ctx, text, "replace");        // [... text stash replace0 replace]
  bool original = duk_is_function(ctx, -1) && duk_strict_equals(ctx, -1, -2);
  duk_pop_2(ctx);
  duk_get_prop_string(ctx, -1, kStashPattern);      // [... text stash pattern0]
  if (!original || !PushGlobal(ctx, "str_reg")) {
    duk_pop_2(ctx);
    return false;
  }
  original = duk_is_object(ctx, -1) && duk_strict_equals(ctx, -1, -2);
  duk_pop(ctx);                                     // [... text stash pattern0]
  if (!original) {
    duk_pop_2(ctx);
    return false;
  }
  // A global pattern's search leaves lastIndex at 0.
  duk_push_int(ctx, 0);
  duk_put_prop_string(ctx, -2, "lastIndex");
  duk_pop_2(ctx);                                   // [... text]

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
  if (!PushChainValue(ctx, *call->chain)) return 0;
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

// ---- the helper script ------------------------------------------------------------------------

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

struct LoadCall {
  std::string_view variable;
  std::string_view json;
  bool unwrapString;
};

// The same load through our own reader; `declined` when it leaves the text to the engine.
struct FastLoadCall {
  const LoadCall* load;
  bool declined;
};

duk_ret_t FastLoadJsonInHeap(duk_context* ctx, void* udata) {
  auto* call = static_cast<FastLoadCall*>(udata);
  call->declined = true;
  if (!PushJsonFast(ctx, call->load->json)) return 0;
  if (call->load->unwrapString && duk_is_string(ctx, -1)) {
    duk_size_t len = 0;
    const char* inner = duk_get_lstring(ctx, -1, &len);
    if (!PushJsonFast(ctx, std::string_view(inner, len))) return 0;
  }
  duk_put_global_lstring(ctx, call->load->variable.data(), call->load->variable.size());
  call->declined = false;
  return 0;
}

duk_ret_t LoadJsonInHeap(duk_context* ctx, void* udata) {
  const auto* call = static_cast<const LoadCall*>(udata);
  duk_push_lstring(ctx, call->json.data(), call->json.size());
  duk_json_decode(ctx, -1);
  if (call->unwrapString && duk_is_string(ctx, -1)) duk_json_decode(ctx, -1);
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

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one sequence at s[i]; 0 when the bytes there form no valid one. Surrogates are
// accepted here (the engine encodes them as three-byte sequences) and sorted out by the caller.
std::size_t DecodeAt(std::string_view s, std::size_t i, std::uint32_t& cp) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  auto cont = [&](std::size_t k) { return k < s.size() && (byte(k) & 0xC0) == 0x80; };
  unsigned char b = byte(i);
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
    cp = ((b & 0x1Fu) << 6) | (byte(i + 1) & 0x3Fu);
    return 2;
  }
  if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
    cp = ((b & 0x0Fu) << 12) | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu);
    return cp >= 0x800 ? 3 : 0;
  }
  if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
    cp = ((b & 0x07u) << 18) | ((byte(i + 1) & 0x3Fu) << 12) | ((byte(i + 2) & 0x3Fu) << 6) |
         (byte(i + 3) & 0x3Fu);
    return (cp >= 0x10000 && cp <= 0x10FFFF) ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::string EngineStringToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    std::uint32_t cp = 0;
    std::size_t len = DecodeAt(s, i, cp);
    if (len == 0) {
      AppendUtf8(out, 0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      std::uint32_t low = 0;
      std::size_t lowLen = i + len < s.size() ? DecodeAt(s, i + len, low) : 0;
      if (lowLen == 3 && low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        len += lowLen;
      } else {
        cp = 0xFFFD;
      }
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
    i += len;
  }
  return out;
}

std::shared_ptr<ScriptEngine> ScriptEngine::Create(std::size_t memoryLimit) {
  std::shared_ptr<ScriptEngine> engine(new (std::nothrow) ScriptEngine());
  if (!engine || !engine->Start(memoryLimit) || !engine->RunHelperScript()) return nullptr;
  return engine;
}

bool ScriptEngine::Start(std::size_t memoryLimit) {
  allocator_ = std::make_unique<Allocator>(memoryLimit);
  std::jmp_buf recover;
  allocator_->recover = &recover;
  if (setjmp(recover) != 0) {
    Abandon();
    return false;
  }
  ctx_ = duk_create_heap(HeapAlloc, HeapRealloc, HeapFree, allocator_.get(), OnFatal);
  allocator_->recover = nullptr;
  return ctx_ != nullptr;
}

// Compiling the helper script is most of the cost of a new engine, so it is compiled once and
// every new heap loads the bytecode. Empty when that fails; heaps then compile the source.
std::string ScriptEngine::CompileHelperScript() {
  ScriptEngine scratch;
  if (!scratch.Start(kDefaultMemoryLimit)) return {};
  std::string bytecode;
  if (scratch.Protected(CompileHelperInHeap, nullptr, 0, 1) == DUK_EXEC_SUCCESS &&
      scratch.alive()) {
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

ScriptEngine::~ScriptEngine() {
  if (ctx_) {
    std::jmp_buf recover;
    allocator_->recover = &recover;
    if (setjmp(recover) == 0) duk_destroy_heap(ctx_);
    allocator_->recover = nullptr;
    ctx_ = nullptr;
  }
  // The allocator frees whatever the heap may have left behind.
}

void ScriptEngine::OnFatal(void* udata, const char* /*msg*/) {
  // A fatal error means the heap can no longer be trusted: leave it for good. Every call into
  // the engine is armed, so there is always a place to return to; the process never aborts.
  auto* allocator = static_cast<Allocator*>(udata);
  if (allocator && allocator->recover) std::longjmp(*allocator->recover, 1);
  std::abort();  // unreachable: no engine call runs unarmed
}

void ScriptEngine::Abandon() {
  ctx_ = nullptr;
  if (allocator_) {
    allocator_->recover = nullptr;
    allocator_->FreeAll();
  }
}

duk_int_t ScriptEngine::Protected(duk_safe_call_function fn, void* udata, duk_idx_t nargs,
                                  duk_idx_t nrets) {
  if (!ctx_) return DUK_EXEC_ERROR;
  std::jmp_buf recover;
  allocator_->recover = &recover;
  if (setjmp(recover) != 0) {
    Abandon();
    return DUK_EXEC_ERROR;
  }
  duk_int_t rc = duk_safe_call(ctx_, fn, udata, nargs, nrets);
  allocator_->recover = nullptr;
  return rc;
}

bool ScriptEngine::Evaluate(std::string_view script, Want want) {
  MemberChain chain;
  FastShape shape;
  if (MatchFastShape(script, want, shape, chain)) {
    FastCall call{&chain, shape, want, true};
    duk_int_t rc = Protected(FastEvalInHeap, &call, 0, 1);
    return rc == DUK_EXEC_SUCCESS && !call.failed && alive();
  }
  EvalCall call{script, want};
  duk_int_t rc = Protected(EvalInHeap, &call, 0, 1);
  return rc == DUK_EXEC_SUCCESS && alive();
}

void ScriptEngine::NotePlaceholderPattern() {
  Protected(NotePlaceholderInHeap, nullptr, 0, 0);
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
    std::string_view raw(s ? s : "", s ? len : 0);
    bool plain = true;
    for (char c : raw) plain = plain && static_cast<unsigned char>(c) < 0x80;
    out = plain ? std::string(raw) : EngineStringToUtf8(raw);
  }
  duk_pop(ctx_);
  return ok;
}

bool ScriptEngine::LoadJson(std::string_view variable, std::string_view json, bool unwrapString,
                            EngineError* error) {
  LoadCall call{variable, json, unwrapString};
  // Our reader first; whatever it declines or fails on, the engine's parser reads from the
  // start, so that acceptance and errors are always the engine's.
  FastLoadCall fast{&call, true};
  if (Protected(FastLoadJsonInHeap, &fast, 0, 0) == DUK_EXEC_SUCCESS && !fast.declined &&
      alive()) {
    return true;
  }
  if (!alive()) {
    if (error) *error = EngineError{0, "Error", "the script engine failed", 0, false};
    return false;
  }
  duk_int_t rc = Protected(LoadJsonInHeap, &call, 0, 1);
  if (!alive()) {
    if (error) *error = EngineError{0, "Error", "the script engine failed", 0, false};
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

std::size_t ScriptEngine::bytesInUse() const { return allocator_ ? allocator_->used : 0; }

}  // namespace ombrik
