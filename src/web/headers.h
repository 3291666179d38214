// The request header block: the caller's lines, the default headers and the cookie line, as
// they go on the wire. Lines are separated by CR LF; the block carries no trailing CR LF.
#pragma once

#include "text/text.h"

namespace ombrik {

// Sent when the caller's headers name no user agent.
inline constexpr const char* kDefaultUserAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// Raises the first letter of every dash-separated part of each header name and drops the lines
// without a colon. Values are left alone; nothing is lowered.
Text NormalizeHeaderNames(const Text& headers);
// The first byte upper-cased (a to z only).
Text CapitalizeFirst(const Text& text);
// The bytes after the first ":", trimmed; empty without a colon.
Text ValueAfterColon(const Text& text);
// The value of the block's User-Agent line, else the default agent.
Text ChooseUserAgent(const Text& headers);
// Appends Accept, Referer (the URL), Accept-Language and, for POST (method 1), Content-Type,
// each only when the block does not already name it anywhere (case ignored).
Text CompleteHeaderBlock(const Text& headers, const Text& url, int method);
// Appends the cookie line; a `cookies` text that already holds "Cookie:" is taken as the line.
Text AppendCookieHeader(const Text& headers, const Text& cookies);

}  // namespace ombrik
