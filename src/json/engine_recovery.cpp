// Recovery from the engine's fatal errors: every call into the engine is armed with a place
// to return to, so a fatal error abandons the heap instead of aborting the process.
#include <cstdlib>

#include "json/capped_allocator.h"
#include "json/script_engine.h"

namespace ombrik {

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
  // A fatal error means the heap can no longer be trusted: leave it for good.
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

duk_int_t ScriptEngine::Protected(duk_safe_call_function fn, void* udata, duk_idx_t nargs, duk_idx_t nrets) {
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

std::size_t ScriptEngine::bytesInUse() const { return allocator_ ? allocator_->used : 0; }

}  // namespace ombrik
