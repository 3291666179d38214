// JsonDocument: one JSON document held in an embedded JavaScript engine under the script
// variable "da", read and changed by JavaScript member expressions such as
// data.trackDetailInfos[0].trackInfo.title.
//
// Copies share the engine (and so the document) until one of them parses a new text. Every
// failure is silent and gives the default of the result: false, the empty Text, 0, and -1
// from TypeOf. Paths are evaluated as script: they come from the program, never from a server.
// Parse, which does take server answers, only ever parses JSON.
//
// The engine is made only when script is first needed. Until then the document is a native
// value, and the reads of plain paths on it (GetText, TypeOf, Count, ...) are answered without
// an engine, exactly as the engine would answer them; the first operation that needs script
// (a change, a path that is not plain, a name only the prototypes answer) makes the engine
// and loads the value into it.
#pragma once

#include <cstdint>
#include <memory>

#include "text/text.h"

namespace ombrik {

class ScriptEngine;
struct JsonValue;
struct NativeRef;

// What Parse reports about a text it could not load, when asked.
struct ScriptError {
  std::int32_t errorNumber = 0;  // the engine's error code
  Text source;                   // the kind of error, e.g. "SyntaxError"
  Text description;              // the engine's message
  Text helpFile;                 // always empty: the engine has none
  std::int32_t helpContext = 0;  // always 0
  Text errorText;                // the text at the failing position (a short excerpt)
  std::int32_t line = 0;         // 1-based, 0 when the engine names no position
  std::int32_t column = 0;       // 1-based byte column, 0 when unknown
};

// The kind of value at a path, as TypeOf reports it. There is no code 3.
enum class JsonValueKind : std::int32_t {
  Other = -1,  // functions, dates, regular expressions, or a path that raised an error
  Null = 0,    // null or undefined, including a missing member of an existing parent
  Boolean = 1,
  Number = 2,
  Object = 4,
  Array = 5,
  String = 6,
};

class JsonDocument {
 public:
  // Creates the document (engine to be) with the document variable an empty object.
  JsonDocument();
  ~JsonDocument();
  // Copies and assignments share the engine.
  JsonDocument(const JsonDocument& other);
  JsonDocument& operator=(const JsonDocument& other);
  JsonDocument(JsonDocument&& other) noexcept;
  JsonDocument& operator=(JsonDocument&& other) noexcept;

  // Releases this object's reference to the engine; it then has no engine.
  void Destroy();
  // A new object sharing this one's engine.
  JsonDocument Copy() const;
  // Replaces the engine with a new one holding the helper script and an empty document.
  // When no engine can be made, the object keeps the one it had.
  void CreateEngine();
  // Loads `text` as JSON into a new engine (copies keep the old one). Default mode: a JSON
  // string holding JSON is parsed once more, and an empty text gives a null document as null
  // does, without an error. Direct mode: the value is loaded as it is. False, with a null
  // document, for text that is not JSON, for null and when there is no engine. `errorInfo`,
  // when given, receives the engine's error (cleared on success).
  bool Parse(const Text& text, bool direct = false, ScriptError* errorInfo = nullptr);
  bool Clear();
  Text ToJson();
  bool Set(const Text& path = {}, const Text& value = {}, bool asObject = false);
  bool SetExpression(const Text& path = {}, const Text& expression = {});
  // Completes `path` in place: prefixes the variable name unless the path already starts
  // with it and designates a value. Returns whether a value is there.
  bool ResolvePath(Text& path);
  bool Exists(const Text& path = {});
  JsonValueKind TypeOf(const Text& path = {});
  Text GetText(const Text& path = {}, bool asJson = false);
  // `names` receives the member names of the object at `path`.
  std::int32_t GetNames(TextArray& names, const Text& path = {});
  std::int32_t Count(const Text& path = {});
  // A deep copy of the value at `path` in a document with an engine of its own.
  JsonDocument GetObject(const Text& path = {});
  bool Append(const Text& value = {}, const Text& path = {}, bool raw = false, bool atFront = false);
  JsonDocument GetItemObject(std::int32_t index = 0, const Text& path = {});
  Text GetItemText(std::int32_t index = 0, const Text& path = {}, bool asJson = false);
  bool SetItem(std::int32_t index = 0, const Text& path = {}, const Text& value = {}, bool raw = false);
  bool RemoveItem(std::int32_t index = 0, const Text& path = {});
  bool Delete(const Text& path = {});
  bool SetNumber(const Text& path = {}, double number = 0);
  double GetNumber(const Text& path = {});
  Text GetJson(const Text& path = {});
  // The engine, made now if the document had none yet.
  std::shared_ptr<ScriptEngine> GetEngine() const;
  // `values` receives the string, number and boolean values under `path`, nested ones too
  // when `recursive`.
  std::int32_t GetValues(TextArray& values, const Text& path = {}, bool recursive = false);

 private:
  struct State;

  bool Load(const Text& text, bool direct, ScriptError* errorInfo);
  // The native value while there is no engine yet; nullptr once there is one (or none can be).
  const JsonValue* NativeRoot() const;
  // The engine, made and loaded with the native value if need be; nullptr when none can be made.
  ScriptEngine* Engine() const;
  // ResolvePath on the native value: `target` receives what the completed path designates,
  // `completed` (when given) the completed path. False where the engine must decide.
  bool ResolveNative(const JsonValue& root, const Text& path, NativeRef& target, Text* completed) const;
  Text Completed(const Text& path);
  bool EvalBool(const Text& script);
  double EvalNumber(const Text& script);
  Text EvalText(const Text& script);
  void Run(const Text& script);
  JsonDocument DocumentFromJsonText(const Text& json);

  Text variableName_;
  // Shared by copies: the native value, then the engine.
  std::shared_ptr<State> state_;
};

}  // namespace ombrik
