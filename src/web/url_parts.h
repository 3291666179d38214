// Cutting a request URL into host, port and path with plain text searches. The results on odd
// URLs follow from those searches and are relied on as they are (see the tests).
#pragma once

#include <optional>

#include "text/text.h"

namespace ombrik {

// The text between the first `left` at or after `start` and the next `right`; empty when either
// is missing. "#引号" in a delimiter stands for a double quote.
Text TextBetween(const Text& text, const Text& left, const Text& right, int start = 0, bool ignoreCase = false);

// The host of `url`, lower-cased. Without `levels`: everything between the scheme and the next
// "/", port cut off unless `keepPort`; `mainDomainOnly` keeps the last two labels. With `levels`:
// the last levels + 2 labels of the host (levels + 1 with `mainDomainOnly`).
Text UrlHost(const Text& url, bool mainDomainOnly = false, bool keepPort = false,
             std::optional<int> levels = std::nullopt);

// The explicit port, else 443 for "https" URLs and 80 for the rest.
int UrlPort(const Text& url);

// The object to request: from the first "/" after the host to the end, in the URL's own case,
// query included; "/" when there is none.
Text UrlPath(const Text& url);

}  // namespace ombrik
