// The file name of a track, built from a server's title and play address: whatever they hold,
// the name stays one entry inside the chosen folder.
#include <cstring>
#include <string>

#include "download/download_run.h"
#include "download/sanitize.h"
#include "fuzz_input.h"
#include "text/text_ops.h"

using namespace ombrik;
using ombrik::fuzz::FuzzInput;

namespace {

// The name as the file system gets it.
void CheckOneEntry(const Text& name) {
  const std::string onDisk = TextToUtf8(name);
  FUZZ_CHECK(onDisk.find('/') == std::string::npos);
  FUZZ_CHECK(onDisk != "." && onDisk != "..");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  // The list number is always the extraction's own number text.
  std::int32_t raw = 0;
  for (int i = 0; i < 4; ++i) raw = raw << 8 | in.Byte();
  const Text number = (raw & 1) ? NumberToText(raw / 2.0) : IntToText(raw);
  const Text title = in.NextText();
  const Text playPath = in.NextText();

  const Text clean = SanitizeFileName(title);
  if (!clean.empty()) CheckOneEntry(clean);
  for (const Text& n : {number, Text()}) {
    const Text name = TrackFileName(n, title, playPath);
    if (!name.empty()) CheckOneEntry(name);
  }
  return 0;
}
