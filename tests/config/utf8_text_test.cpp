#include "config/utf8_text.h"

#include <gtest/gtest.h>

namespace vortan {
namespace {

constexpr char kFffd[] = "\xEF\xBF\xBD";

TEST(Utf8Text, ValidityFollowsTheWellFormedByteTable) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"VORTAN KB 25", true},
      {"\xC3\xA9", true},              // é
      {"\xE2\x82\xAC", true},          // €
      {"\xF0\x9F\x98\x80", true},      // U+1F600
      {"\xF4\x8F\xBF\xBF", true},      // U+10FFFF
      {std::string("a\0b", 3), true},  // NUL is a character
      {"\xC0\xAF", false},             // overlong
      {"\xE0\x80\xAF", false},         // overlong
      {"\xED\xA0\x80", false},         // surrogate
      {"\xF4\x90\x80\x80", false},     // above U+10FFFF
      {"\xF5\x80\x80\x80", false},     // lead byte never used
      {"\xC3", false},                 // truncated at the end
      {"\xE2\x82", false},             // truncated at the end
      {"\x80", false},                 // lone continuation byte
      {"\xFF", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << ::testing::PrintToString(c.bytes);
}

TEST(Utf8Text, RepairReplacesEachMaximalSubpartOnce) {
  struct Case {
    std::string bytes;
    std::string repaired;
  };
  const Case cases[] = {
      {"V2.1\xC3\xA9", "V2.1\xC3\xA9"},
      {"A\xFF"
       "B",
       std::string("A") + kFffd + "B"},
      // A truncated three-byte sequence is one subpart, then the next character decodes.
      {"\xE2\x82"
       "A",
       std::string(kFffd) + "A"},
      // A surrogate lead: E0..ED limits end the subpart at its first byte.
      {"\xED\xA0\x80", std::string(kFffd) + kFffd + kFffd},
      {"\xC0\xAF", std::string(kFffd) + kFffd},
      {"\xF0\x9F\x98", kFffd},
      {"\x80\x80", std::string(kFffd) + kFffd},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RepairUtf8(c.bytes), c.repaired) << ::testing::PrintToString(c.bytes);
    EXPECT_TRUE(IsValidUtf8(RepairUtf8(c.bytes)));
  }
}

TEST(Utf8Text, FieldTextStopsAtTheFirstNulOrTakesTheWholeField) {
  EXPECT_EQ(FieldText(std::string("Fn\0\0\0\0\0\0", 8)), "Fn");
  EXPECT_EQ(FieldText("VORTAN KB 25 PRO"), "VORTAN KB 25 PRO");
  EXPECT_EQ(FieldText(std::string("\0abc", 4)), "");
  EXPECT_EQ(FieldText(std::string("\xFFx\0y", 4)), std::string(kFffd) + "x");
}

TEST(Utf8Text, TrimSpaceRemovesAsciiAndUnicodeSpaceAtBothEndsOnly) {
  struct Case {
    std::string text;
    std::string trimmed;
  };
  const Case cases[] = {
      {"  key = value \r", "key = value"},
      {"\t\n\v\f\r", ""},
      {"\xC2\xA0"
       "x"
       "\xE3\x80\x80",
       "x"},  // no-break space, ideographic space
      {"\xE2\x80\xA8"
       "a b"
       "\xC2\x85",
       "a b"},  // line separator, next line
      {"a\xC2\xA0", "a"},
      {"\xFF ", "\xFF"},  // undecodable bytes are kept
      {" \xE2\x82", "\xE2\x82"},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TrimSpace(c.text), c.trimmed) << ::testing::PrintToString(c.text);
}

}  // namespace
}  // namespace vortan
