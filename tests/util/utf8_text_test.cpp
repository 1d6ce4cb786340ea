// SPDX-License-Identifier: Apache-2.0
#include "util/utf8_text.h"

#include <gtest/gtest.h>

namespace vortan {
namespace {

constexpr char kFffd[] = "\xEF\xBF\xBD";

// Valid text comes back unchanged; each maximal ill-formed subpart becomes one U+FFFD.
TEST(Utf8TextTest, ValidityAndRepairFollowTheWellFormedByteTable) {
  const std::string r = kFffd;
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"V2.1\xC3\xA9", "V2.1\xC3\xA9"},
      {"\xE2\x82\xAC\xF0\x9F\x98\x80", "\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},          // U+10FFFF
      {std::string("a\0b", 3), std::string("a\0b", 3)},  // NUL is a character
      {"A\xFFZ", "A" + r + "Z"},
      {"\xE2\x82z", r + "z"},               // a truncated sequence is one subpart
      {"\xED\xA0\x80", r + r + r},          // surrogate: ends at its first byte
      {"\xC0\xAF", r + r},                  // overlong
      {"\xE0\x80\xAF", r + r + r},          // overlong
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\xF5\x80\x80\x80", r + r + r + r},  // lead byte never used
      {"\xF0\x9F\x98", r},                  // truncated at the end
      {"\x80\x80", r + r},                  // lone continuation bytes
  };
  for (const auto& [bytes, repaired] : cases) {
    SCOPED_TRACE(::testing::PrintToString(bytes));
    EXPECT_EQ(IsValidUtf8(bytes), bytes == repaired);
    EXPECT_EQ(RepairUtf8(bytes), repaired);
    EXPECT_TRUE(IsValidUtf8(RepairUtf8(bytes)));
  }
}

TEST(Utf8TextTest, FieldTextStopsAtTheFirstNulOrTakesTheWholeField) {
  EXPECT_EQ(FieldText(std::string("Fn\0\0\0\0\0\0", 8)), "Fn");
  EXPECT_EQ(FieldText("VORTAN KB 25 PRO"), "VORTAN KB 25 PRO");
  EXPECT_EQ(FieldText(std::string("\xFFx\0y", 4)), std::string(kFffd) + "x");
}

TEST(Utf8TextTest, TrimSpaceRemovesAsciiAndUnicodeSpaceAtBothEndsOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"  key = value \r", "key = value"},
      {"\t\n\v\f\r", ""},
      {"\xC2\xA0x\xE3\x80\x80", "x"},      // no-break space, ideographic space
      {"\xE2\x80\xA8z y\xC2\x85", "z y"},  // line separator, next line
      {"\xFF ", "\xFF"},                   // undecodable bytes are kept
      {" \xE2\x82", "\xE2\x82"},
  };
  for (const auto& [text, trimmed] : cases)
    EXPECT_EQ(TrimSpace(text), trimmed) << ::testing::PrintToString(text);
}

}  // namespace
}  // namespace vortan
