#include "download/sanitize.h"

#include <gtest/gtest.h>

#include "download/download_run.h"
#include "download/file_fetch.h"

namespace ombrik {
namespace {

TEST(SanitizeFileName, RemovesSpacesAndTheElevenCharactersOnly) {
  const std::pair<Text, Text> cases[] = {
      {"A: B/C?", "ABC"},
      {"Track 1.2 (live)", "Track12(live)"},
      {"say \"hi\"", "say\"hi\""},  // double quotes stay
      {"it's", "its"},
      {" '/\\*|<>.:%? ", ""},
      {"a\tb\r\nc", "a\tb\r\nc"},
      {"\x81\x5C\x81\x7C|\\", "\x81\x5C\x81\x7C"},       // trail bytes 0x5C and 0x7C stay
      {"\xD6\xD0\xA1\xA1\xCE\xC4", "\xD6\xD0\xCE\xC4"},  // full-width space
      {"../../etc/passwd", "etcpasswd"},
      {"ab\xD6", "ab"},  // a lead byte standing last
      // A lead byte before '/' forms no character: the slash must not reach the file system.
      {"\x81/\x81.\x81.", "\x81\x81.\x81."},
      {"\x80/x", "\x80x"},
  };
  for (const auto& [title, expected] : cases) EXPECT_EQ(SanitizeFileName(title), expected) << title.str();
}

TEST(TrackFileName, NumberCleanedTitleAndExtension) {
  const struct {
    const char* number;
    const char* title;
    const char* playPath;
    const char* expected;
  } cases[] = {
      {"12", "A: B", "https://h.example/abc/track.m4a", "12AB.m4a"},
      {"3", "t", "track.mp3", "3t.mp3"},
      {"3", "t", "/stream/abcdef", "3t.abcdef"},
      {"3", "t", "x.m4a?k=v", "3t.m4a?k=v"},
      {"3", "t", "https://h.example/a.b/c", "3t.c"},
      {"3", "t", "", ""},  // no piece: skipped
      {"3", "t", "///", ""},
      {"3", "t", "https://h.example/...", ""},                       // only dots: no extension, skipped
      {"1", "\x81/\x81.", "h/x.\x81/\x81/", "1\x81\x81..\x81\x81"},  // stray lead bytes
  };
  for (const auto& c : cases) {
    const Text name = TrackFileName(c.number, c.title, c.playPath);
    EXPECT_EQ(name, Text(c.expected)) << c.playPath;
    EXPECT_EQ(TextToUtf8(name).find('/'), std::string::npos) << c.playPath;
  }
}

TEST(FileNames, ExtensionOfTheLastComponentAndUtf16Cutting) {
  EXPECT_EQ(FileExtensionOf("/music/a.m4a"), Text(".m4a"));
  EXPECT_EQ(FileExtensionOf("/music/a"), Text());
  EXPECT_EQ(FileExtensionOf("/mu.sic/a"), Text());  // a dot in a folder does not count
  EXPECT_EQ(FileExtensionOf("/music/a.tar.gz"), Text(".gz"));
  EXPECT_EQ(FileExtensionOf("/music/.hidden"), Text(".hidden"));
  EXPECT_EQ(FileExtensionOf("a."), Text("."));
  EXPECT_EQ(DropLastCharacters("/music/a.m4a", 4), Text("/music/a"));
  EXPECT_EQ(DropLastCharacters("ab\xD6\xD0", 1), Text("ab"));  // one character, two bytes
  EXPECT_EQ(DropLastCharacters("ab", 2), Text());
  EXPECT_EQ(DropLastCharacters("ab", 0), Text("ab"));
}

}  // namespace
}  // namespace ombrik
