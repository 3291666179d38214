#include "json/helper_script.h"

namespace ombrik {

// All helpers classify values by Object.prototype.toString, which tells arrays from objects
// and works on primitives. The engine's own JSON serves JSON.stringify and JSON.parse.
//
// get__extend: members the target holds as a string, boolean, number or not at all take the
// source's value; objects merge member by member; functions (the two methods added to every
// object below) stay. A null member counts as missing, since there is nothing to merge into.
std::string_view HelperScript() {
  static constexpr std::string_view kScript = R"js(
function get__nodeValue(str_json, recursion) {
  for (var name in str_json) {
    var value = str_json[name];
    var kind = Object.prototype.toString.call(value);
    if (kind == '[object Object]' || kind == '[object Array]') {
      if (recursion) get__nodeValue(value, recursion);
    } else if (kind == '[object String]' || kind == '[object Number]' || kind == '[object Boolean]') {
      str_all.push(value);
    }
  }
  return str_all;
}
function get__count(c) {
  return Object.prototype.toString.call(c) == '[object Array]' ? c.length : 0;
}
function get__name_All(a) {
  if (Object.prototype.toString.call(a) != '[object Object]') return '';
  var names = [];
  for (var name in a) {
    if (typeof a[name] != 'function') names.push(name);
  }
  return names.join('\r\n');
}
function get__extend(target, source) {
  if (Object.prototype.toString.call(target) == '[object Array]') {
    for (var i = 0; i < source.length; i++) target.push(source[i]);
    return target;
  }
  for (var name in source) {
    var current = target[name];
    switch (current === null ? 'undefined' : typeof current) {
      case 'string':
      case 'boolean':
      case 'number':
      case 'undefined':
        target[name] = source[name];
        break;
      case 'object':
        target[name] = get__extend(current, source[name]);
        break;
    }
  }
  return target;
}
if (typeof Object.prototype.toJSONString != 'function') {
  Object.prototype.toJSONString = function (filter) { return JSON.stringify(this, filter); };
  Object.prototype.parseJSON = function (filter) { return JSON.parse(this, filter); };
}
)js";
  return kScript;
}

}  // namespace ombrik
