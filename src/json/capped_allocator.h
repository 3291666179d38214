// The script engine's heap memory: capped, and freeable without the engine's help.
#pragma once

#include <csetjmp>
#include <cstddef>

#include <duktape.h>

#include "json/script_engine.h"

namespace ombrik {

// Every block carries a header that links it into a list, so the heap's use can be capped
// and, should the engine ever die in its fatal handler, every block can still be freed.
struct ScriptEngine::Allocator {
  struct alignas(16) Block {
    Block* prev;
    Block* next;
    std::size_t size;
  };

  explicit Allocator(std::size_t cap) : limit(cap) {}
  ~Allocator() { FreeAll(); }
  Allocator(const Allocator&) = delete;
  Allocator& operator=(const Allocator&) = delete;

  void* Alloc(std::size_t size);
  void* Realloc(void* ptr, std::size_t size);
  void Free(void* ptr);
  void FreeAll();

  std::size_t limit;
  std::size_t used = 0;
  Block* head = nullptr;
  std::jmp_buf* recover = nullptr;  // armed while a call into the engine is under way

 private:
  static Block* HeaderOf(void* ptr) { return static_cast<Block*>(ptr) - 1; }
  void Link(Block* b);
  void Unlink(Block* b);
};

// The heap's allocation functions; `udata` is the Allocator.
void* HeapAlloc(void* udata, duk_size_t size);
void* HeapRealloc(void* udata, void* ptr, duk_size_t size);
void HeapFree(void* udata, void* ptr);

}  // namespace ombrik
