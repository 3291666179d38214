// Our JSON reader against the engine's parser on the same text: whatever ours takes, the
// engine must take too and build the same value, down to number bits, key order and
// property attributes. Any difference aborts.
#include <cstdlib>
#include <string_view>

#include "../tests/json/engine_value_dump.h"
#include "fuzz_input.h"
#include "json/helper_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static duk_context* ctx = [] {
    duk_context* heap = duk_create_heap_default();
    const std::string_view script = ombrik::HelperScript();
    if (!heap || duk_peval_lstring(heap, script.data(), script.size()) != 0) std::abort();
    duk_pop(heap);
    return heap;
  }();
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  const ombrik::testing::ReadResult ours = ombrik::testing::ReadJson(ctx, json, true);
  if (ours.taken) {
    const ombrik::testing::ReadResult engine = ombrik::testing::ReadJson(ctx, json, false);
    FUZZ_CHECK(engine.taken);
    FUZZ_CHECK(ours.dump == engine.dump);
  }
  FUZZ_CHECK(duk_get_top(ctx) == 0);
  duk_gc(ctx, 0);
  return 0;
}
