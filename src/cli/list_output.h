// The track list on standard output: TAB-separated lines or JSON lines, UTF-8.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "text/text.h"

namespace ombrik::cli {

enum class ListFormat { Tabs, Json };

// A JSON string of the text (UTF-8), control characters escaped.
std::string JsonString(const Text& text);
std::string JsonString(const std::string& utf8);
// A list number as a JSON number when it is a plain integer, else as a string.
std::string JsonNumber(const Text& text);

// One row: number, title, play address.
std::string TrackListLine(const std::array<Text, 3>& row, ListFormat format);
// Writes every row; false when the output could not be written.
bool WriteTrackList(std::FILE* out, const std::vector<std::array<Text, 3>>& rows, ListFormat format);

}  // namespace ombrik::cli
