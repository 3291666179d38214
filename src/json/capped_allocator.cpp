#include "json/capped_allocator.h"

#include <cstdlib>

namespace ombrik {

using Allocator = ScriptEngine::Allocator;

void Allocator::Link(Block* b) {
  b->prev = nullptr;
  b->next = head;
  if (head) head->prev = b;
  head = b;
}

void Allocator::Unlink(Block* b) {
  if (b->prev)
    b->prev->next = b->next;
  else
    head = b->next;
  if (b->next) b->next->prev = b->prev;
}

void* Allocator::Alloc(std::size_t size) {
  if (size > limit - used) return nullptr;
  auto* b = static_cast<Block*>(std::malloc(sizeof(Block) + size));
  if (!b) return nullptr;
  b->size = size;
  Link(b);
  used += size;
  return b + 1;
}

void* Allocator::Realloc(void* ptr, std::size_t size) {
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

void Allocator::Free(void* ptr) {
  if (!ptr) return;
  Block* b = HeaderOf(ptr);
  Unlink(b);
  used -= b->size;
  std::free(b);
}

void Allocator::FreeAll() {
  while (head) {
    Block* next = head->next;
    std::free(head);
    head = next;
  }
  used = 0;
}

void* HeapAlloc(void* udata, duk_size_t size) { return static_cast<Allocator*>(udata)->Alloc(size); }
void* HeapRealloc(void* udata, void* ptr, duk_size_t size) {
  return static_cast<Allocator*>(udata)->Realloc(ptr, size);
}
void HeapFree(void* udata, void* ptr) { static_cast<Allocator*>(udata)->Free(ptr); }

}  // namespace ombrik
