#include "json/json_document.h"

#include <algorithm>
#include <string>
#include <utility>

#include "json/json_reader.h"
#include "json/json_value.h"
#include "json/member_path.h"
#include "json/native_reads.h"
#include "json/script_engine.h"
#include "text/text_ops.h"

namespace ombrik {

namespace {

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// ASCII is the same in both encodings; only other texts need the converter.
std::string ToEngine(const Text& text) { return IsAscii(text.view()) ? text.str() : TextToUtf8(text); }

Text FromEngine(std::string&& utf8) { return IsAscii(utf8) ? Text(std::move(utf8)) : TextFromUtf8(utf8); }

// A string value of the engine as EvalText hands it over.
Text FromEngineString(std::string_view engineString) { return FromEngine(EngineStringToUtf8(engineString)); }

// Turns backslash placeholders back into backslashes on the way out.
const char* const kUnplaceholder = ".replace(str_reg, '\\\\')";

const Text& ValueSeparator() {
  static const Text separator = "[2020年7月20日20时0分0秒]"_t;
  return separator;
}

TextArray SplitResult(const Text& joined, const Text& separator) {
  if (joined.empty()) return {};
  return SplitKeepingEmpty(joined, separator);
}

// Fills the record the way the engine's error reads: kind, message, and the position in
// the loaded text (line, column and a short excerpt) where the parser names one.
void FillScriptError(ScriptError& record, const EngineError& error, std::string_view json) {
  record = ScriptError{};
  record.errorNumber = error.code;
  record.source = FromEngine(std::string(error.name));
  record.description = FromEngine(std::string(error.message));
  if (!error.hasOffset) return;
  std::size_t offset = std::min(error.offset, json.size());
  std::int32_t line = 1;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (json[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  std::int32_t column = 1;
  for (std::size_t i = lineStart; i < offset; ++i)
    if ((static_cast<unsigned char>(json[i]) & 0xC0) != 0x80) ++column;
  record.line = line;
  record.column = column;
  // Up to 40 bytes from the failing position to the end of its line, whole characters only.
  std::size_t end = offset;
  while (end < json.size() && end - offset < 40 && json[end] != '\n' && json[end] != '\r') ++end;
  while (end > offset && end < json.size() && (static_cast<unsigned char>(json[end]) & 0xC0) == 0x80) --end;
  record.errorText = FromEngine(std::string(json.substr(offset, end - offset)));
}

}  // namespace

struct JsonDocument::State {
  std::shared_ptr<ScriptEngine> engine;  // once script was needed
  JsonTree tree;                         // the value until then

  static std::shared_ptr<State> EmptyObject() {
    auto state = std::make_shared<State>();
    state->tree.root.kind = JsonKind::Object;
    return state;
  }
};

namespace {
using Outcome = NativeRef::Outcome;
}  // namespace

JsonDocument::JsonDocument() : variableName_("da"), state_(State::EmptyObject()) {}

JsonDocument::~JsonDocument() { Destroy(); }

JsonDocument::JsonDocument(const JsonDocument& other) = default;
JsonDocument& JsonDocument::operator=(const JsonDocument& other) = default;

JsonDocument::JsonDocument(JsonDocument&& other) noexcept
    : variableName_(other.variableName_), state_(std::move(other.state_)) {}

JsonDocument& JsonDocument::operator=(JsonDocument&& other) noexcept {
  if (this != &other) {
    variableName_ = other.variableName_;
    state_ = std::move(other.state_);
  }
  return *this;
}

void JsonDocument::Destroy() { state_.reset(); }

JsonDocument JsonDocument::Copy() const { return *this; }

void JsonDocument::CreateEngine() { state_ = State::EmptyObject(); }

const JsonValue* JsonDocument::NativeRoot() const { return state_ && !state_->engine ? &state_->tree.root : nullptr; }

ScriptEngine* JsonDocument::Engine() const {
  if (!state_) return nullptr;
  if (state_->engine) return state_->engine.get();
  std::shared_ptr<ScriptEngine> engine = ScriptEngine::Create();
  if (!engine) return nullptr;
  engine->Run(ToEngine(ConcatText("var ", variableName_,
                                  " = {}, str_Code = String.fromCharCode(9216), str_reg = new RegExp(str_Code, 'g')")));
  engine->NotePlaceholderPattern();
  // A value too big for the engine's heap leaves the document null, as the engine's own
  // parser would have left it.
  if (!engine->LoadValue(ToEngine(variableName_), state_->tree.root))
    engine->Run(ToEngine(ConcatText("var ", variableName_, " = null")));
  state_->engine = std::move(engine);
  state_->tree = JsonTree{};
  return state_->engine.get();
}

bool JsonDocument::Parse(const Text& text, bool direct, ScriptError* errorInfo) {
  if (!state_) return false;
  state_ = std::make_shared<State>();
  return Load(text, direct, errorInfo);
}

// Parse into a fresh document. The text is only ever parsed as JSON: our reader builds the
// native value, and what it declines reaches the engine's parser as a string value, never as
// script.
bool JsonDocument::Load(const Text& text, bool direct, ScriptError* errorInfo) {
  state_->tree.root = JsonValue{};
  // Default mode reads an empty text as the evaluation of nothing: no value, no error.
  if (text.empty() && !direct) {
    if (errorInfo) *errorInfo = ScriptError{};
    return false;
  }
  const std::string json = ToEngine(text);
  if (ReadJson(json, state_->tree, !direct, ScriptEngine::kDefaultMemoryLimit)) {
    if (errorInfo) *errorInfo = ScriptError{};
    return state_->tree.root.kind != JsonKind::Null;
  }
  // The engine decides: acceptance, rejection and the error record stay its own.
  ScriptEngine* engine = Engine();
  if (!engine) {
    state_.reset();
    return false;
  }
  Run(ConcatText("var ", variableName_, " = null"));
  EngineError error;
  bool loaded = engine->LoadJson(ToEngine(variableName_), json, !direct, errorInfo ? &error : nullptr);
  if (errorInfo) {
    if (loaded)
      *errorInfo = ScriptError{};
    else
      FillScriptError(*errorInfo, error, json);
  }
  return EvalBool(ConcatText(variableName_, " != null"));
}

bool JsonDocument::Clear() {
  if (NativeRoot()) {
    state_->tree = JsonTree{};
    state_->tree.root.kind = JsonKind::Object;
    return true;
  }
  return EvalBool(ConcatText(variableName_, " = {}"));
}

Text JsonDocument::ToJson() {
  if (const JsonValue* root = NativeRoot()) {
    std::string json;
    if (NativeStringify(NativeRef::Of(*root), json) == NativeResult::Done) {
      ReplacePlaceholders(json);
      return FromEngineString(json);
    }
  }
  return EvalText(ConcatText("JSON.stringify(", variableName_, ")", kUnplaceholder));
}

bool JsonDocument::Set(const Text& path, const Text& value, bool asObject) {
  Text target = path;
  const bool exists = ResolvePath(target);
  if (asObject) {
    const Text merged = value.empty() ? Text("{}") : value;
    const Text kind = EvalText(ConcatText("Object.prototype.toString.call(", target, ")"));
    if (exists && kind == Text("[object Object]"))
      return EvalBool(ConcatText(target, " = get__extend(", target, ", ", merged, ")"));
    // The caller's own value: an empty one assigns undefined.
    return EvalBool(ConcatText(target, " = eval(", value, ")"));
  }
  // A single-quoted script literal of exactly the caller's text; backslashes are stored as
  // the placeholder so that they survive later reads unchanged.
  Text literal = value;
  literal = ReplaceText(literal, "\\", "\\\\", std::nullopt, std::nullopt, true);
  literal = ReplaceText(literal, "'", "\\'", std::nullopt, std::nullopt, true);
  literal = ReplaceText(literal, "\"", "\\\"", std::nullopt, std::nullopt, true);
  literal = ReplaceText(literal, CharFromCode(13), "\\r", std::nullopt, std::nullopt, true);
  literal = ReplaceText(literal, CharFromCode(10), "\\n", std::nullopt, std::nullopt, true);
  return EvalBool(ConcatText(target, " = '", literal, "'.replace(/\\\\/g, str_Code)"));
}

bool JsonDocument::SetExpression(const Text& path, const Text& expression) {
  return EvalBool(ConcatText(Completed(path), " = eval(", expression, ")"));
}

bool JsonDocument::ResolveNative(const JsonValue& root, const Text& path, NativeRef& target, Text* completed) const {
  const std::string_view variable = variableName_.view();
  const std::string_view given = path.view();
  // Parsed once: the completed path variable.path has the same steps after the first.
  MemberPath parsed;
  const bool plain = ParseMemberPath(given, parsed);
  if (given.starts_with(variable)) {
    if (!plain) return false;
    target = ReadNativePath(root, variable, parsed);
    if (target.outcome == Outcome::NeedsEngine) return false;
    if (target.IsValue() && !target.IsNullish()) {
      if (completed) *completed = path;
      return true;
    }
  }
  if (given.empty()) {
    target = NativeRef::Of(root);
    if (completed) *completed = variableName_;
    return true;
  }
  if (given[0] == '[') {
    Text full = ConcatText(variableName_, path);
    target = ReadNativePath(root, variable, full.view());
    if (target.outcome == Outcome::NeedsEngine) return false;
    if (completed) *completed = std::move(full);
    return true;
  }
  if (!plain || parsed.count == MemberPath::kMaxSteps) return false;
  target = ReadNativeMemberPath(root, parsed);
  if (target.outcome == Outcome::NeedsEngine) return false;
  if (completed) *completed = ConcatText(variableName_, ".", path);
  return true;
}

bool JsonDocument::ResolvePath(Text& path) {
  if (const JsonValue* root = NativeRoot()) {
    Text completed;
    NativeRef target;
    if (ResolveNative(*root, path, target, &completed)) {
      path = std::move(completed);
      return target.IsValue() && !target.IsNullish();
    }
  }
  if (TextStartsWith(path, variableName_) && EvalBool(ConcatText(path, " != null"))) return true;
  if (path.empty()) {
    path = variableName_;
  } else if (path.byte(0) == '[') {
    path = ConcatText(variableName_, path);
  } else {
    path = ConcatText(variableName_, ".", path);
  }
  return EvalBool(ConcatText(path, " != null"));
}

bool JsonDocument::Exists(const Text& path) {
  Text target = path;
  return ResolvePath(target);
}

JsonValueKind JsonDocument::TypeOf(const Text& path) {
  if (const JsonValue* root = NativeRoot()) {
    NativeRef ref;
    if (ResolveNative(*root, path, ref, nullptr)) {
      if (ref.outcome == Outcome::Throws) return JsonValueKind::Other;
      if (ref.IsNullish()) return JsonValueKind::Null;
      switch (ref.value().kind) {
        case JsonKind::String:
          return JsonValueKind::String;
        case JsonKind::Array:
          return JsonValueKind::Array;
        case JsonKind::Object:
          return JsonValueKind::Object;
        case JsonKind::Number:
          return JsonValueKind::Number;
        case JsonKind::True:
        case JsonKind::False:
          return JsonValueKind::Boolean;
        case JsonKind::Null:
          return JsonValueKind::Null;
      }
    }
  }
  const Text target = Completed(path);
  if (EvalBool(ConcatText(target, " == null"))) return JsonValueKind::Null;
  const Text kind = EvalText(ConcatText("Object.prototype.toString.call(", target, ")"));
  if (kind == Text("[object String]")) return JsonValueKind::String;
  if (kind == Text("[object Array]")) return JsonValueKind::Array;
  if (kind == Text("[object Object]")) return JsonValueKind::Object;
  if (kind == Text("[object Number]")) return JsonValueKind::Number;
  if (kind == Text("[object Boolean]")) return JsonValueKind::Boolean;
  return JsonValueKind::Other;
}

Text JsonDocument::GetText(const Text& path, bool asJson) {
  if (const JsonValue* root = NativeRoot()) {
    NativeRef ref;
    if (ResolveNative(*root, path, ref, nullptr)) {
      std::string text;
      // JSON.stringify(target) or target.toString(), then .replace(str_reg, '\\').
      const NativeResult result = asJson ? NativeStringify(ref, text)
                                  : ref.outcome == Outcome::Throws || ref.IsNullish()
                                      ? NativeResult::Throws
                                      : NativeToString(ref.value(), text);
      if (result == NativeResult::Throws) return {};
      if (result == NativeResult::Done) {
        ReplacePlaceholders(text);
        return FromEngineString(text);
      }
    }
  }
  const Text target = Completed(path);
  if (asJson) return EvalText(ConcatText("JSON.stringify(", target, ")", kUnplaceholder));
  return EvalText(ConcatText(target, ".toString()", kUnplaceholder));
}

std::int32_t JsonDocument::GetNames(TextArray& names, const Text& path) {
  if (const JsonValue* root = NativeRoot()) {
    NativeRef ref;
    if (ResolveNative(*root, path, ref, nullptr)) {
      // get__name_All: the names of an object's own members (none of them a function), and
      // the empty text for anything else.
      std::string joined;
      if (ref.IsValue() && ref.value().kind == JsonKind::Object) {
        bool first = true;
        ForEachMemberInEngineOrder(ref.value(), [&](const JsonMember& m) {
          if (!first) joined += "\r\n";
          first = false;
          joined.append(m.key.chars, m.key.size);
        });
      }
      names = SplitResult(FromEngineString(joined), "\r\n");
      return names.Size();
    }
  }
  names = SplitResult(EvalText(ConcatText("get__name_All(", Completed(path), ")")), "\r\n");
  return names.Size();
}

std::int32_t JsonDocument::Count(const Text& path) {
  if (const JsonValue* root = NativeRoot()) {
    NativeRef ref;
    if (ResolveNative(*root, path, ref, nullptr)) {
      const bool array = ref.IsValue() && ref.value().kind == JsonKind::Array;
      return array ? NumberToInt(ref.value().size) : 0;
    }
  }
  return NumberToInt(EvalNumber(ConcatText("get__count(", Completed(path), ")")));
}

JsonDocument JsonDocument::GetObject(const Text& path) { return DocumentFromJsonText(GetJson(path)); }

bool JsonDocument::Append(const Text& value, const Text& path, bool raw, bool atFront) {
  const Text target = Completed(path);
  const Text item = raw ? value : ConcatText("'", value, "'");
  return EvalBool(ConcatText("if (Object.prototype.toString.call(", target, ") != '[object Array]') { ", target,
                             " = new Array() } ", target, atFront ? ".unshift(" : ".push(", item, ")"));
}

JsonDocument JsonDocument::GetItemObject(std::int32_t index, const Text& path) {
  return DocumentFromJsonText(GetItemText(index, path, true));
}

Text JsonDocument::GetItemText(std::int32_t index, const Text& path, bool asJson) {
  if (const JsonValue* root = NativeRoot()) {
    NativeRef ref;
    if (ResolveNative(*root, path, ref, nullptr)) {
      const NativeRef item = ReadNativeMember(ref, IntToText(index).view());
      std::string text;
      NativeResult result = NativeResult::Throws;
      if (asJson) {
        result = NativeStringify(item, text);
      } else if (item.outcome == Outcome::NeedsEngine) {
        result = NativeResult::NeedsEngine;
      } else if (item.IsValue() && item.value().kind == JsonKind::String) {
        // item.replace(str_reg, '\\'): the pattern reads characters, which only a
        // well-formed string has for certain. Other values have no replace to call.
        result = item.value().has(JsonValue::kWellFormed) ? NativeResult::Done : NativeResult::NeedsEngine;
        text.assign(item.value().chars, item.value().size);
      }
      if (result == NativeResult::Throws) return {};
      if (result == NativeResult::Done) {
        ReplacePlaceholders(text);
        return FromEngineString(text);
      }
    }
  }
  const Text target = Completed(path);
  if (asJson) return EvalText(ConcatText("JSON.stringify(", target, "[", IntToText(index), "])", kUnplaceholder));
  return EvalText(ConcatText(target, "[", IntToText(index), "]", kUnplaceholder));
}

bool JsonDocument::SetItem(std::int32_t index, const Text& path, const Text& value, bool raw) {
  const Text item = raw ? value : ConcatText("'", value, "'");
  return EvalBool(ConcatText(Completed(path), "[", IntToText(index), "] = ", item));
}

bool JsonDocument::RemoveItem(std::int32_t index, const Text& path) {
  return EvalBool(ConcatText(Completed(path), ".splice(", IntToText(index), ", 1)"));
}

bool JsonDocument::Delete(const Text& path) { return EvalBool(ConcatText("delete ", Completed(path))); }

bool JsonDocument::SetNumber(const Text& path, double number) {
  return EvalBool(ConcatText(Completed(path), " = ", NumberToText(number)));
}

double JsonDocument::GetNumber(const Text& path) {
  if (const JsonValue* root = NativeRoot()) {
    NativeRef ref;
    // A text's numeric reading is the engine's (left to it); other values that are not
    // numbers or booleans read as 0.
    if (ResolveNative(*root, path, ref, nullptr) && !(ref.IsValue() && ref.value().kind == JsonKind::String)) {
      if (!ref.IsValue()) return 0.0;
      switch (ref.value().kind) {
        case JsonKind::Number:
          return ref.value().number;
        case JsonKind::True:
          return 1.0;
        default:
          return 0.0;
      }
    }
  }
  return EvalNumber(Completed(path));
}

Text JsonDocument::GetJson(const Text& path) { return GetText(path, true); }

std::shared_ptr<ScriptEngine> JsonDocument::GetEngine() const { return Engine() ? state_->engine : nullptr; }

std::int32_t JsonDocument::GetValues(TextArray& values, const Text& path, bool recursive) {
  const Text target = Completed(path);
  Run("var str_all = new Array()");
  Run(ConcatText("get__nodeValue(", target, recursive ? ", true)" : ", false)"));
  values = SplitResult(EvalText(ConcatText("str_all.join('", ValueSeparator(), "')")), ValueSeparator());
  return values.Size();
}

Text JsonDocument::Completed(const Text& path) {
  Text target = path;
  ResolvePath(target);
  return target;
}

// A document of its own for JSON text taken out of this one.
JsonDocument JsonDocument::DocumentFromJsonText(const Text& json) {
  JsonDocument document;
  document.Load(json, false, nullptr);
  return document;
}

bool JsonDocument::EvalBool(const Text& script) {
  ScriptEngine* engine = Engine();
  return engine && engine->EvalBool(ToEngine(script));
}

double JsonDocument::EvalNumber(const Text& script) {
  ScriptEngine* engine = Engine();
  return engine ? engine->EvalNumber(ToEngine(script)) : 0.0;
}

Text JsonDocument::EvalText(const Text& script) {
  ScriptEngine* engine = Engine();
  std::string utf8;
  if (!engine || !engine->EvalText(ToEngine(script), utf8)) return {};
  return FromEngine(std::move(utf8));
}

void JsonDocument::Run(const Text& script) {
  if (ScriptEngine* engine = Engine()) engine->Run(ToEngine(script));
}

}  // namespace ombrik
