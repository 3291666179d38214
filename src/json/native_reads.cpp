#include "json/native_reads.h"

#include <charconv>
#include <cstring>
#include <string>
#include <unordered_set>

#include "json/member_path.h"
#include "text/utf8.h"

namespace ombrik {

namespace {

using Outcome = NativeRef::Outcome;

JsonValue NumberValue(double number) {
  JsonValue v;
  v.kind = JsonKind::Number;
  v.number = number;
  return v;
}

const JsonMember* FindMember(const JsonValue& object, std::string_view key) {
  for (std::uint32_t i = 0; i < object.size; ++i) {
    const JsonMember& m = object.members[i];
    if (m.key.size == key.size() && std::memcmp(m.key.chars, key.data(), key.size()) == 0) return &m;
  }
  return nullptr;
}

// What a name or index that is not own gives: the prototype's member, or nothing.
NativeRef Inherited(std::string_view key) {
  return NativeRef::With(IsPrototypeName(key) ? Outcome::NeedsEngine : Outcome::Undefined);
}

// base[key]; `isIndex` when key is an array index, `index` its value. The key's text is
// only needed for objects and is made then.
template <typename Key>
NativeRef Step(const NativeRef& base, Key key, bool isIndex, std::uint32_t index) {
  if (base.outcome != Outcome::Value) {
    // A member of undefined is a TypeError.
    return base.outcome == Outcome::Undefined ? NativeRef::With(Outcome::Throws) : base;
  }
  const JsonValue& v = base.value();
  char digits[16];
  switch (v.kind) {
    case JsonKind::Null:
      return NativeRef::With(Outcome::Throws);
    case JsonKind::Object: {
      const std::string_view name = key(digits);
      if (const JsonMember* m = FindMember(v, name)) return NativeRef::Of(m->value);
      return Inherited(name);
    }
    case JsonKind::Array:
      if (isIndex) return index < v.size ? NativeRef::Of(v.items[index]) : NativeRef();
      if (key(digits) == "length") return NativeRef::Made(NumberValue(v.size));
      return Inherited(key(digits));
    case JsonKind::String: {
      if (!isIndex && key(digits) != "length") return Inherited(key(digits));
      // Lengths and characters of other strings depend on how the engine decodes them.
      if (!v.has(JsonValue::kAscii)) return NativeRef::With(Outcome::NeedsEngine);
      if (!isIndex) return NativeRef::Made(NumberValue(v.size));
      if (index >= v.size) return NativeRef();
      JsonValue character;
      character.kind = JsonKind::String;
      character.flags = JsonValue::kAscii | JsonValue::kWellFormed;
      character.size = 1;
      character.chars = v.chars + index;
      return NativeRef::Made(character);
    }
    case JsonKind::Number:
    case JsonKind::True:
    case JsonKind::False:
      return Inherited(key(digits));
  }
  return NativeRef::With(Outcome::NeedsEngine);
}

NativeRef Step(const NativeRef& base, std::string_view name) {
  std::uint32_t index = 0;
  const bool isIndex = IsArrayIndexKey(name, &index);
  return Step(
      base, [name](char*) { return name; }, isIndex, index);
}

NativeRef Step(const NativeRef& base, const MemberPath::Step& step) {
  if (!step.name.empty()) return Step(base, step.name);
  const std::uint32_t index = step.index;
  return Step(
      base,
      [index](char* digits) {
        const char* end = std::to_chars(digits, digits + 16, index).ptr;
        return std::string_view(digits, static_cast<std::size_t>(end - digits));
      },
      true, index);
}

NativeRef Steps(NativeRef ref, const MemberPath& path) {
  for (int i = 0; i < path.count && (ref.IsValue() || ref.outcome == Outcome::Undefined); ++i)
    ref = Step(ref, path.steps[i]);
  return ref;
}

// ---- text forms -------------------------------------------------------------------------------

void AppendJoined(std::string& out, const JsonValue& array, NativeResult& result);

// ToString of a value inside an array being joined, the way the engine converts it.
NativeResult AppendToString(std::string& out, const JsonValue& v) {
  switch (v.kind) {
    case JsonKind::Null:
      return NativeResult::Done;  // join writes nothing for null
    case JsonKind::True:
      out += "true";
      return NativeResult::Done;
    case JsonKind::False:
      out += "false";
      return NativeResult::Done;
    case JsonKind::Number:
      AppendEngineNumber(out, v.number);
      return NativeResult::Done;
    case JsonKind::String:
      out.append(v.chars, v.size);
      return NativeResult::Done;
    case JsonKind::Array: {
      NativeResult result = NativeResult::Done;
      AppendJoined(out, v, result);
      return result;
    }
    case JsonKind::Object:
      // An own toString is data, never a function: calling it is a TypeError, and so is the
      // object itself that valueOf then gives.
      if (FindMember(v, "toString")) return NativeResult::Throws;
      out += "[object Object]";
      return NativeResult::Done;
  }
  return NativeResult::NeedsEngine;
}

void AppendJoined(std::string& out, const JsonValue& array, NativeResult& result) {
  for (std::uint32_t i = 0; i < array.size && result == NativeResult::Done; ++i) {
    if (i > 0) out += ',';
    result = AppendToString(out, array.items[i]);
  }
}

constexpr char kHex[] = "0123456789abcdef";

// The engine's quoting of a string it holds as well-formed UTF-8: short escapes where JSON has
// them, \u00xx for the other control characters, and \u2028 and \u2029 escaped too.
void AppendQuoted(std::string& out, const JsonValue& s) {
  out += '"';
  const std::string_view text = s.text();
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x80) {
      const Utf8Char c = DecodeUtf8At(text, i, true);
      if (c.cp == 0x2028 || c.cp == 0x2029) {
        out += c.cp == 0x2028 ? "\\u2028" : "\\u2029";
      } else {
        out.append(text.substr(i, c.length));
      }
      i += c.length;
      continue;
    }
    ++i;
    switch (b) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (b < 0x20) {
          out += "\\u00";
          out += kHex[b >> 4];
          out += kHex[b & 0xF];
        } else {
          out += static_cast<char>(b);
        }
    }
  }
  out += '"';
}

// Strings the engine would have to decode leniently (stray bytes, overlong forms) are left
// to it.
NativeResult AppendJson(std::string& out, const JsonValue& v) {
  switch (v.kind) {
    case JsonKind::Null:
      out += "null";
      return NativeResult::Done;
    case JsonKind::True:
      out += "true";
      return NativeResult::Done;
    case JsonKind::False:
      out += "false";
      return NativeResult::Done;
    case JsonKind::Number:
      AppendEngineNumber(out, v.number);
      return NativeResult::Done;
    case JsonKind::String:
      if (!v.has(JsonValue::kWellFormed)) return NativeResult::NeedsEngine;
      AppendQuoted(out, v);
      return NativeResult::Done;
    case JsonKind::Array:
      out += '[';
      for (std::uint32_t i = 0; i < v.size; ++i) {
        if (i > 0) out += ',';
        if (NativeResult r = AppendJson(out, v.items[i]); r != NativeResult::Done) return r;
      }
      out += ']';
      return NativeResult::Done;
    case JsonKind::Object: {
      out += '{';
      NativeResult result = NativeResult::Done;
      bool first = true;
      ForEachMemberInEngineOrder(v, [&](const JsonMember& m) {
        if (result != NativeResult::Done) return;
        if (!m.key.has(JsonValue::kWellFormed)) {
          result = NativeResult::NeedsEngine;
          return;
        }
        if (!first) out += ',';
        first = false;
        AppendQuoted(out, m.key);
        out += ':';
        result = AppendJson(out, m.value);
      });
      out += '}';
      return result;
    }
  }
  return NativeResult::NeedsEngine;
}

}  // namespace

bool IsPrototypeName(std::string_view name) {
  // Object.prototype (with the helper script's two methods), Array.prototype,
  // String.prototype, Number.prototype and Boolean.prototype, in one list.
  static const std::unordered_set<std::string_view> kNames = {"constructor",
                                                              "__proto__",
                                                              "toString",
                                                              "toLocaleString",
                                                              "valueOf",
                                                              "hasOwnProperty",
                                                              "isPrototypeOf",
                                                              "propertyIsEnumerable",
                                                              "__defineGetter__",
                                                              "__defineSetter__",
                                                              "__lookupGetter__",
                                                              "__lookupSetter__",
                                                              "toJSONString",
                                                              "parseJSON",
                                                              "length",
                                                              "concat",
                                                              "join",
                                                              "pop",
                                                              "push",
                                                              "reverse",
                                                              "shift",
                                                              "slice",
                                                              "sort",
                                                              "splice",
                                                              "unshift",
                                                              "indexOf",
                                                              "lastIndexOf",
                                                              "every",
                                                              "some",
                                                              "forEach",
                                                              "map",
                                                              "filter",
                                                              "reduce",
                                                              "reduceRight",
                                                              "charAt",
                                                              "charCodeAt",
                                                              "codePointAt",
                                                              "localeCompare",
                                                              "match",
                                                              "replace",
                                                              "search",
                                                              "split",
                                                              "substring",
                                                              "toLowerCase",
                                                              "toLocaleLowerCase",
                                                              "toUpperCase",
                                                              "toLocaleUpperCase",
                                                              "trim",
                                                              "repeat",
                                                              "startsWith",
                                                              "endsWith",
                                                              "includes",
                                                              "substr",
                                                              "toFixed",
                                                              "toExponential",
                                                              "toPrecision"};
  return kNames.contains(name);
}

bool IsGlobalName(std::string_view name) {
  static const std::unordered_set<std::string_view> kNames = {
      "globalThis", "NaN", "Infinity", "undefined", "Object", "Function", "Array", "String", "Boolean", "Number",
      "Date", "RegExp", "Error", "EvalError", "RangeError", "ReferenceError", "SyntaxError", "TypeError", "URIError",
      "Math", "JSON", "CBOR", "Duktape", "Proxy", "Reflect", "Symbol", "Buffer", "ArrayBuffer", "DataView", "Int8Array",
      "Uint8Array", "Uint8ClampedArray", "Int16Array", "Uint16Array", "Int32Array", "Uint32Array", "Float32Array",
      "Float64Array", "parseInt", "parseFloat", "TextEncoder", "TextDecoder", "performance", "eval", "isNaN",
      "isFinite", "decodeURI", "decodeURIComponent", "encodeURI", "encodeURIComponent", "escape", "unescape",
      // the helper script's and the document's own
      "get__nodeValue", "get__count", "get__name_All", "get__extend", "str_Code", "str_reg", "str_all"};
  // The global object inherits from Object.prototype.
  return kNames.contains(name) || IsPrototypeName(name);
}

NativeRef ReadNativePath(const JsonValue& root, std::string_view variable, std::string_view expression) {
  MemberPath path;
  if (!ParseMemberPath(expression, path)) return NativeRef::With(Outcome::NeedsEngine);
  return ReadNativePath(root, variable, path);
}

NativeRef ReadNativePath(const JsonValue& root, std::string_view variable, const MemberPath& path) {
  // Any name but the document's is another global, or a ReferenceError.
  if (path.root != variable) return NativeRef::With(IsGlobalName(path.root) ? Outcome::NeedsEngine : Outcome::Throws);
  return Steps(NativeRef::Of(root), path);
}

NativeRef ReadNativeMemberPath(const JsonValue& root, const MemberPath& path) {
  return Steps(Step(NativeRef::Of(root), path.root), path);
}

NativeRef ReadNativeMember(const NativeRef& base, std::string_view key) { return Step(base, key); }

NativeResult NativeToString(const JsonValue& value, std::string& out) {
  out.clear();
  switch (value.kind) {
    case JsonKind::Null:
      return NativeResult::Throws;
    case JsonKind::Array: {
      NativeResult result = NativeResult::Done;
      AppendJoined(out, value, result);
      return result;
    }
    default:
      return AppendToString(out, value);
  }
}

NativeResult NativeStringify(const NativeRef& ref, std::string& out) {
  out.clear();
  switch (ref.outcome) {
    case Outcome::Value:
      return AppendJson(out, ref.value());
    case Outcome::Undefined:
      return NativeResult::Throws;
    case Outcome::Throws:
      return NativeResult::Throws;
    case Outcome::NeedsEngine:
      return NativeResult::NeedsEngine;
  }
  return NativeResult::NeedsEngine;
}

void AppendEngineNumber(std::string& out, double value) {
  if (value == 0) {  // -0 too
    out += '0';
    return;
  }
  if (value < 0) {
    out += '-';
    value = -value;
  }
  // The shortest digits that read back as the same number, as the language asks, in the
  // layout it gives: plain up to 21 integer digits and down to 1e-6, exponent form beyond.
  char buffer[64];
  const char* end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
  const std::string_view sci(buffer, static_cast<std::size_t>(end - buffer));
  const std::size_t ePos = sci.find('e');
  std::string digits;
  digits += sci[0];
  if (ePos > 2) digits.append(sci.substr(2, ePos - 2));
  int exponent = 0;
  std::from_chars(sci.data() + ePos + (sci[ePos + 1] == '+' ? 2 : 1), end, exponent);
  const int k = static_cast<int>(digits.size());
  const int n = exponent + 1;
  if (k <= n && n <= 21) {
    out += digits;
    out.append(static_cast<std::size_t>(n - k), '0');
  } else if (0 < n && n <= 21) {
    out.append(digits, 0, static_cast<std::size_t>(n));
    out += '.';
    out.append(digits, static_cast<std::size_t>(n));
  } else if (-6 < n && n <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-n), '0');
    out += digits;
  } else {
    out += digits[0];
    if (k > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += 'e';
    out += n - 1 >= 0 ? '+' : '-';
    out += std::to_string(n - 1 >= 0 ? n - 1 : 1 - n);
  }
}

void ReplacePlaceholders(std::string& text) {
  static constexpr std::string_view kPlaceholder = "\xE2\x90\x80";  // U+2400
  std::size_t at = text.find(kPlaceholder);
  if (at == std::string::npos) return;
  std::size_t out = at;
  while (at < text.size()) {
    if (text.compare(at, kPlaceholder.size(), kPlaceholder) == 0) {
      text[out++] = '\\';
      at += kPlaceholder.size();
    } else {
      text[out++] = text[at++];
    }
  }
  text.resize(out);
}

}  // namespace ombrik
