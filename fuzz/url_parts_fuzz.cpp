// Cutting request URLs into host, port and path.
#include <optional>

#include "fuzz_input.h"
#include "text/text_ops.h"
#include "web/url_parts.h"

using namespace ombrik;
using ombrik::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const bool mainDomainOnly = in.Flag();
  const bool keepPort = in.Flag();
  const int levels = in.SmallInt();
  const bool withLevels = in.Flag();
  const Text url = in.NextText();
  const Text left = in.NextText();
  const Text right = in.NextText();

  const Text host = UrlHost(url);
  FUZZ_CHECK(TextToLower(host) == host);
  (void)UrlHost(url, mainDomainOnly, keepPort, withLevels ? std::optional<int>(levels) : std::nullopt);
  (void)UrlPort(url);
  const Text path = UrlPath(url);
  FUZZ_CHECK(TextLeft(path, 1) == Text("/"));
  FUZZ_CHECK(path == Text("/") || url.view().find(path.view()) != std::string_view::npos);
  const Text between = TextBetween(url, left, right, levels, mainDomainOnly);
  FUZZ_CHECK(between.size() <= url.size());
  return 0;
}
