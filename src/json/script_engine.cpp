#include "json/script_engine.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "json/helper_script.h"

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

struct EvalCall {
  enum class Want { Nothing, Bool, Number, Text };
  std::string_view script;
  Want want;
};

duk_ret_t EvalInHeap(duk_context* ctx, void* udata) {
  const auto* call = static_cast<const EvalCall*>(udata);
  duk_eval_raw(ctx, call->script.data(), call->script.size(),
               DUK_COMPILE_EVAL | DUK_COMPILE_NOSOURCE | DUK_COMPILE_NOFILENAME);
  switch (call->want) {
    case EvalCall::Want::Nothing:
      return 0;
    case EvalCall::Want::Bool:
      duk_push_boolean(ctx, duk_to_boolean(ctx, -1));
      return 1;
    case EvalCall::Want::Number:
      // Numbers give themselves, booleans 1 or 0, texts their numeric reading; values that
      // have none (objects, null, undefined, texts that are no number) give 0.
      switch (duk_get_type(ctx, -1)) {
        case DUK_TYPE_NUMBER:
          return 1;
        case DUK_TYPE_BOOLEAN:
          duk_push_number(ctx, duk_get_boolean(ctx, -1) ? 1.0 : 0.0);
          return 1;
        case DUK_TYPE_STRING: {
          double n = duk_to_number(ctx, -1);
          duk_push_number(ctx, n == n ? n : 0.0);
          return 1;
        }
        default:
          duk_push_number(ctx, 0.0);
          return 1;
      }
    case EvalCall::Want::Text:
      // Our text expressions all end in a string; numbers and booleans convert without
      // running script, anything else is no text.
      switch (duk_get_type(ctx, -1)) {
        case DUK_TYPE_STRING:
          return 1;
        case DUK_TYPE_NUMBER:
        case DUK_TYPE_BOOLEAN:
          duk_to_string(ctx, -1);
          return 1;
        default:
          duk_push_string(ctx, "");
          return 1;
      }
  }
  return 0;
}

duk_ret_t RunHelperScript(duk_context* ctx, void*) {
  const std::string_view script = HelperScript();
  duk_eval_raw(ctx, script.data(), script.size(),
               DUK_COMPILE_NOSOURCE | DUK_COMPILE_NOFILENAME | DUK_COMPILE_NORESULT);
  return 0;
}

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
  if (!engine || !engine->Start(memoryLimit)) return nullptr;
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
  if (!ctx_) return false;
  if (Protected(RunHelperScript, nullptr, 0, 0) != DUK_EXEC_SUCCESS) return false;
  return alive();
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

bool ScriptEngine::Run(std::string_view script) {
  EvalCall call{script, EvalCall::Want::Nothing};
  return Protected(EvalInHeap, &call, 0, 0) == DUK_EXEC_SUCCESS && alive();
}

bool ScriptEngine::EvalBool(std::string_view script) {
  EvalCall call{script, EvalCall::Want::Bool};
  duk_int_t rc = Protected(EvalInHeap, &call, 0, 1);
  if (!alive()) return false;
  bool result = rc == DUK_EXEC_SUCCESS && duk_get_boolean(ctx_, -1);
  duk_pop(ctx_);
  return result;
}

double ScriptEngine::EvalNumber(std::string_view script) {
  EvalCall call{script, EvalCall::Want::Number};
  duk_int_t rc = Protected(EvalInHeap, &call, 0, 1);
  if (!alive()) return 0.0;
  double result = rc == DUK_EXEC_SUCCESS ? duk_get_number(ctx_, -1) : 0.0;
  duk_pop(ctx_);
  return result;
}

bool ScriptEngine::EvalText(std::string_view script, std::string& out) {
  out.clear();
  EvalCall call{script, EvalCall::Want::Text};
  duk_int_t rc = Protected(EvalInHeap, &call, 0, 1);
  if (!alive()) return false;
  bool ok = rc == DUK_EXEC_SUCCESS;
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
