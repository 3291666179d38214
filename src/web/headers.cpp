#include "web/headers.h"

#include "text/text_ops.h"
#include "web/url_parts.h"

namespace ombrik {
namespace {

// A plain substring test over the whole block, not a per-line name match: "X-Accept:" makes
// "Accept:" present, "Accept-Language:" does not. Callers' blocks are composed with that in mind.
bool HasHeader(const Text& block, const Text& nameWithColon) {
  return FindText(block, nameWithColon, std::nullopt, true) != -1;
}

Text NormalizeName(const Text& name) {
  if (FindText(name, "-") == -1) return CapitalizeFirst(name);
  Text result;
  bool first = true;
  for (const Text& part : SplitKeepingEmpty(name, Text("-"))) {
    if (!first) result += "-";
    result += CapitalizeFirst(part);
    first = false;
  }
  return result;
}

}  // namespace

Text CapitalizeFirst(const Text& text) {
  if (text.empty()) return text;
  return TextToUpper(TextLeft(text, 1)) + TextRight(text, TextLength(text) - 1);
}

Text NormalizeHeaderNames(const Text& headers) {
  Text result;
  bool first = true;
  for (const Text& line : SplitKeepingEmpty(headers, Text("\r\n"))) {
    int colon = FindText(line, ":");
    if (colon == -1) continue;
    // A name ending in "-" loses a byte in the split; taking the rest by length from the right
    // gives that byte back, so such a line only changes case.
    Text name = NormalizeName(TextLeft(line, colon - 1));
    Text rebuilt = name + TextRight(line, TextLength(line) - TextLength(name));
    if (!first) result += "\r\n";
    result += rebuilt;
    first = false;
  }
  return result;
}

Text ValueAfterColon(const Text& text) {
  int colon = FindText(text, ":");
  if (colon == -1) return {};
  return TrimSpaces(TextRight(text, TextLength(text) - colon));
}

Text ChooseUserAgent(const Text& headers) {
  if (!HasHeader(headers, "User-Agent:")) return kDefaultUserAgent;
  Text agent = TrimSpaces(TextBetween(headers + "\r\n", "User-Agent:", "\r\n"));
  if (agent.empty()) agent = ValueAfterColon(headers);
  return agent;
}

Text CompleteHeaderBlock(const Text& headers, const Text& url, int method) {
  Text block = headers.empty() ? Text("Accept: */*") : headers;
  if (!HasHeader(block, "Accept:")) block += "\r\nAccept: */*";
  if (!HasHeader(block, "Referer:")) block += ConcatText("\r\nReferer: ", url);
  if (!HasHeader(block, "Accept-Language:")) block += "\r\nAccept-Language: zh-cn";
  if (method == 1 && !HasHeader(block, "Content-Type:")) {
    block += "\r\nContent-Type: application/x-www-form-urlencoded";
  }
  return block;
}

Text AppendCookieHeader(const Text& headers, const Text& cookies) {
  if (FindText(cookies, "Cookie:") != -1) return ConcatText(headers, "\r\n", cookies);
  return ConcatText(headers, "\r\nCookie: ", cookies);
}

}  // namespace ombrik
