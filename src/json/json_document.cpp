#include "json/json_document.h"

#include <algorithm>
#include <string>
#include <utility>

#include "json/script_engine.h"
#include "text/text_ops.h"

namespace ombrik {

namespace {

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// ASCII is the same in both encodings; only other texts need the converter.
std::string ToEngine(const Text& text) {
  return IsAscii(text.view()) ? text.str() : TextToUtf8(text);
}

Text FromEngine(std::string&& utf8) {
  return IsAscii(utf8) ? Text(std::move(utf8)) : TextFromUtf8(utf8);
}

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
  while (end > offset && end < json.size() && (static_cast<unsigned char>(json[end]) & 0xC0) == 0x80)
    --end;
  record.errorText = FromEngine(std::string(json.substr(offset, end - offset)));
}

}  // namespace

JsonDocument::JsonDocument() : variableName_("da") { CreateEngine(); }

JsonDocument::~JsonDocument() { Destroy(); }

JsonDocument::JsonDocument(const JsonDocument& other) = default;
JsonDocument& JsonDocument::operator=(const JsonDocument& other) = default;

JsonDocument::JsonDocument(JsonDocument&& other) noexcept
    : variableName_(other.variableName_), engine_(std::move(other.engine_)) {}

JsonDocument& JsonDocument::operator=(JsonDocument&& other) noexcept {
  if (this != &other) {
    variableName_ = other.variableName_;
    engine_ = std::move(other.engine_);
  }
  return *this;
}

void JsonDocument::Destroy() { engine_.reset(); }

JsonDocument JsonDocument::Copy() const { return *this; }

void JsonDocument::CreateEngine() {
  std::shared_ptr<ScriptEngine> engine = ScriptEngine::Create();
  if (!engine) return;
  engine_ = std::move(engine);
  Run(ConcatText("var ", variableName_,
                 " = {}, str_Code = String.fromCharCode(9216), str_reg = new RegExp(str_Code, 'g')"));
  engine_->NotePlaceholderPattern();
}

bool JsonDocument::Parse(const Text& text, bool direct, ScriptError* errorInfo) {
  if (engine_) {
    engine_.reset();
    CreateEngine();
  }
  if (!engine_) return false;
  return Load(text, direct, errorInfo);
}

// Parse on an engine that is already fresh. The text is only ever parsed as JSON: it reaches
// the engine as a string value, never as script.
bool JsonDocument::Load(const Text& text, bool direct, ScriptError* errorInfo) {
  Run(ConcatText("var ", variableName_, " = null"));
  const std::string json = ToEngine(text);
  EngineError error;
  bool loaded = engine_->LoadJson(ToEngine(variableName_), json, !direct,
                                  errorInfo ? &error : nullptr);
  if (errorInfo) {
    if (loaded) *errorInfo = ScriptError{};
    else FillScriptError(*errorInfo, error, json);
  }
  return EvalBool(ConcatText(variableName_, " != null"));
}

bool JsonDocument::Clear() { return EvalBool(ConcatText(variableName_, " = {}")); }

Text JsonDocument::ToJson() {
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

bool JsonDocument::ResolvePath(Text& path) {
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
  const Text target = Completed(path);
  if (asJson) return EvalText(ConcatText("JSON.stringify(", target, ")", kUnplaceholder));
  return EvalText(ConcatText(target, ".toString()", kUnplaceholder));
}

std::int32_t JsonDocument::GetNames(TextArray& names, const Text& path) {
  names = SplitResult(EvalText(ConcatText("get__name_All(", Completed(path), ")")), "\r\n");
  return names.Size();
}

std::int32_t JsonDocument::Count(const Text& path) {
  return NumberToInt(EvalNumber(ConcatText("get__count(", Completed(path), ")")));
}

JsonDocument JsonDocument::GetObject(const Text& path) {
  return DocumentFromJsonText(
      EvalText(ConcatText("JSON.stringify(", Completed(path), ")", kUnplaceholder)));
}

bool JsonDocument::Append(const Text& value, const Text& path, bool raw, bool atFront) {
  const Text target = Completed(path);
  const Text item = raw ? value : ConcatText("'", value, "'");
  return EvalBool(ConcatText("if (Object.prototype.toString.call(", target,
                             ") != '[object Array]') { ", target, " = new Array() } ", target,
                             atFront ? ".unshift(" : ".push(", item, ")"));
}

JsonDocument JsonDocument::GetItemObject(std::int32_t index, const Text& path) {
  return DocumentFromJsonText(EvalText(ConcatText("JSON.stringify(", Completed(path), "[",
                                                  IntToText(index), "])", kUnplaceholder)));
}

Text JsonDocument::GetItemText(std::int32_t index, const Text& path, bool asJson) {
  const Text target = Completed(path);
  if (asJson)
    return EvalText(
        ConcatText("JSON.stringify(", target, "[", IntToText(index), "])", kUnplaceholder));
  return EvalText(ConcatText(target, "[", IntToText(index), "]", kUnplaceholder));
}

bool JsonDocument::SetItem(std::int32_t index, const Text& path, const Text& value, bool raw) {
  const Text item = raw ? value : ConcatText("'", value, "'");
  return EvalBool(ConcatText(Completed(path), "[", IntToText(index), "] = ", item));
}

bool JsonDocument::RemoveItem(std::int32_t index, const Text& path) {
  return EvalBool(ConcatText(Completed(path), ".splice(", IntToText(index), ", 1)"));
}

bool JsonDocument::Delete(const Text& path) {
  return EvalBool(ConcatText("delete ", Completed(path)));
}

bool JsonDocument::SetNumber(const Text& path, double number) {
  return EvalBool(ConcatText(Completed(path), " = ", NumberToText(number)));
}

double JsonDocument::GetNumber(const Text& path) { return EvalNumber(Completed(path)); }

Text JsonDocument::GetJson(const Text& path) {
  return EvalText(ConcatText("JSON.stringify(", Completed(path), ")", kUnplaceholder));
}

std::shared_ptr<ScriptEngine> JsonDocument::GetEngine() const { return engine_; }

std::int32_t JsonDocument::GetValues(TextArray& values, const Text& path, bool recursive) {
  const Text target = Completed(path);
  Run("var str_all = new Array()");
  Run(ConcatText("get__nodeValue(", target, recursive ? ", true)" : ", false)"));
  values = SplitResult(EvalText(ConcatText("str_all.join('", ValueSeparator(), "')")),
                       ValueSeparator());
  return values.Size();
}

Text JsonDocument::Completed(const Text& path) {
  Text target = path;
  ResolvePath(target);
  return target;
}

// A document of its own for JSON text taken out of this one. Its engine is brand new, so it
// loads the text straight away instead of replacing that engine with another new one.
JsonDocument JsonDocument::DocumentFromJsonText(const Text& json) {
  JsonDocument document;
  if (document.engine_) document.Load(json, false, nullptr);
  return document;
}

bool JsonDocument::EvalBool(const Text& script) {
  return engine_ && engine_->EvalBool(ToEngine(script));
}

double JsonDocument::EvalNumber(const Text& script) {
  return engine_ ? engine_->EvalNumber(ToEngine(script)) : 0.0;
}

Text JsonDocument::EvalText(const Text& script) {
  std::string utf8;
  if (!engine_ || !engine_->EvalText(ToEngine(script), utf8)) return {};
  return FromEngine(std::move(utf8));
}

void JsonDocument::Run(const Text& script) {
  if (engine_) engine_->Run(ToEngine(script));
}

}  // namespace ombrik
