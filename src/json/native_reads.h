// Reads of a native JSON value (json_value.h) that give, byte for byte, what the script engine
// gives for the same expressions on the same data: plain member paths, value.toString(),
// JSON.stringify(value). Whatever only the engine can tell (a name the prototype chain
// answers, a string the engine would have to decode leniently, ...) is reported as such, and
// the caller asks the engine instead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json/json_value.h"

namespace ombrik {

struct NativeRef {
  enum class Outcome {
    Value,        // value()
    Undefined,    // no such member
    Throws,       // the expression raises an error (a member of null, an unknown global)
    NeedsEngine,  // only the engine can tell
  };
  Outcome outcome = Outcome::Undefined;

  const JsonValue& value() const { return usesMade_ ? made_ : *value_; }
  bool IsValue() const { return outcome == Outcome::Value; }
  // null or undefined: what `x == null` tests.
  bool IsNullish() const {
    return outcome == Outcome::Undefined || (outcome == Outcome::Value && value().kind == JsonKind::Null);
  }

  static NativeRef Of(const JsonValue& value) {
    NativeRef ref;
    ref.outcome = Outcome::Value;
    ref.value_ = &value;
    return ref;
  }
  // A value the read made itself, such as an array's length.
  static NativeRef Made(const JsonValue& value) {
    NativeRef ref;
    ref.outcome = Outcome::Value;
    ref.made_ = value;
    ref.usesMade_ = true;
    return ref;
  }
  static NativeRef With(Outcome outcome) {
    NativeRef ref;
    ref.outcome = outcome;
    return ref;
  }

 private:
  const JsonValue* value_ = nullptr;
  JsonValue made_;
  bool usesMade_ = false;
};

struct MemberPath;

// Evaluates `expression` in the global scope where the global `variable` holds `root`.
// Anything but a plain member path needs the engine.
NativeRef ReadNativePath(const JsonValue& root, std::string_view variable, std::string_view expression);
NativeRef ReadNativePath(const JsonValue& root, std::string_view variable, const MemberPath& path);
// The same for variable.path, with the root name of `path` a member of `root`.
NativeRef ReadNativeMemberPath(const JsonValue& root, const MemberPath& path);
// base[key], with `key` the property name as the engine would form it.
NativeRef ReadNativeMember(const NativeRef& base, std::string_view key);

enum class NativeResult { Done, Throws, NeedsEngine };

// value.toString() into `out`, as engine string bytes.
NativeResult NativeToString(const JsonValue& value, std::string& out);
// JSON.stringify(value) into `out`; Throws where the result would be undefined.
NativeResult NativeStringify(const NativeRef& ref, std::string& out);
// The text the engine gives for a number.
void AppendEngineNumber(std::string& out, double value);
// Every U+2400 becomes a backslash, as the engine's fast read does it.
void ReplacePlaceholders(std::string& text);

// The names the prototypes of JSON values answer, and the global names besides the document:
// where a read meets one of them it needs the engine. Exposed so that a test can hold them
// against the engine's own lists.
bool IsPrototypeName(std::string_view name);
bool IsGlobalName(std::string_view name);

}  // namespace ombrik
