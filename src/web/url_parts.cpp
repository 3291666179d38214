#include "web/url_parts.h"

#include "text/text_ops.h"

namespace ombrik {
namespace {

Text QuoteMarks(const Text& delimiter) {
  static const Text kQuoteWord = "#引号"_t;
  return ReplaceText(delimiter, kQuoteWord, "\"", std::nullopt, std::nullopt, true);
}

// Everything from the first ":" on goes, unless the caller wants the port.
Text PortStage(const Text& host, bool keepPort) {
  if (keepPort) return host;
  int colon = FindText(host, ":");
  return colon == -1 ? host : TextLeft(host, colon - 1);
}

Text HostAfterScheme(const Text& url, bool mainDomainOnly, bool keepPort) {
  Text u = TextToLower(url);
  if (TextRight(u, 1) != Text("/")) u += "/";
  if (TextLeft(u, 8) == Text("https://")) {
    u = TextBetween(u, "https://", "/");
  } else {
    if (FindText(u, "http://") == -1) u = ConcatText("http://", u);
    u = TextBetween(u, "http://", "/");
  }
  if (mainDomainOnly) {
    TextArray labels = SplitKeepingEmpty(u, Text("."));
    int n = labels.Size();
    if (n > 1) u = ConcatText(labels.At(n - 1), ".", labels.At(n));
  }
  return PortStage(u, keepPort);
}

Text HostByLevels(const Text& url, bool mainDomainOnly, bool keepPort, int levels) {
  Text u = TextToLower(url);
  u = ReplaceText(u, "http://", "", std::nullopt, std::nullopt, true);
  u = ReplaceText(u, "https://", "", std::nullopt, std::nullopt, true);
  int slash = FindText(u, "/");
  if (slash != -1) u = TextLeft(u, slash - 1);
  const int length = TextLength(u);
  int pos = length;
  for (int i = 0; i < levels; ++i) pos = FindLastText(u, ".", pos);
  int t = FindLastText(u, ".", pos);
  if (mainDomainOnly) {
    u = TextRight(u, length - t);
  } else if (t != -1) {
    int t2 = FindLastText(u, ".", t);
    if (t2 != -1) u = TextRight(u, length - t2);
  }
  return PortStage(u, keepPort);
}

}  // namespace

Text TextBetween(const Text& text, const Text& left, const Text& right, int start, bool ignoreCase) {
  const Text l = QuoteMarks(left);
  const Text r = QuoteMarks(right);
  int p = FindText(text, l, start, ignoreCase);
  if (p == -1) return {};
  p += TextLength(l);
  int q = FindText(text, r, p, ignoreCase);
  if (q == -1) return {};
  return TextMid(text, p, q - p);
}

Text UrlHost(const Text& url, bool mainDomainOnly, bool keepPort, std::optional<int> levels) {
  if (levels) return HostByLevels(url, mainDomainOnly, keepPort, *levels);
  return HostAfterScheme(url, mainDomainOnly, keepPort);
}

int UrlPort(const Text& url) {
  const Text host = UrlHost(url, false, true);
  int colon = FindLastText(host, ":");
  if (colon != -1) return TextToInt(TextRight(host, TextLength(host) - colon));
  return TextLeft(TextToLower(url), 5) == Text("https") ? 443 : 80;
}

Text UrlPath(const Text& url) {
  const Text host = UrlHost(url);
  int a = FindText(url, host, 1, true);
  int b = FindText(url, "/", a, true);
  if (b <= 0) return "/";
  return TextRight(url, TextLength(url) - b + 1);
}

}  // namespace ombrik
