// SPDX-License-Identifier: Apache-2.0
#include "updaters/chip_description_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "util/diag_log.h"

namespace vortan {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

TEST(ParseNumberTest, Vectors) {
  const std::pair<const char*, uint32_t> accepted[] = {
      {"0x1000", 4096},
      {"1000H", 4096},
      {"64K", 65536},
      {"2M", 2097152},
      {"7", 7},
      {"1A", 27},
      {"H0", 240},
      {"0xffffffff", 0xFFFFFFFF},
      // Hex and decimal readings wrap modulo 2^32 rather than refusing.
      {"0x123456789", 0x23456789},
      {"4294967297", 1},
      // "K" anywhere: all characters but the last, unvalidated, times 1024.
      {"1k5", 69u * 1024u},
      // Every character read as a decimal digit: meaningless but fixed.
      {"S0 = 100", 0x14C5E734},
  };
  for (const auto& [text, expected] : accepted) {
    uint32_t value = 0;
    EXPECT_TRUE(ParseNumber(text, value)) << text;
    EXPECT_EQ(value, expected) << text;
  }
  for (const char* refused :
       {"x", "0x", "0x12G", "", "H", "0xH", "0x10 ; note", "\xC3\xA9", "\xFF\xFE"}) {
    uint32_t value = 0;
    EXPECT_FALSE(ParseNumber(refused, value)) << refused;
  }
}

TEST(SplitDescriptionLinesTest, CutsLikeHundredByteReads) {
  const std::string comment150 = ";" + std::string(149, 'a');
  EXPECT_THAT(SplitDescriptionLines(comment150 + "\n"),
              ElementsAre(";" + std::string(98, 'a'), std::string(51, 'a')));
  // A line of exactly 99 bytes leaves its line break as a second, empty line.
  EXPECT_THAT(SplitDescriptionLines(std::string(99, 'b') + "\nc"),
              ElementsAre(std::string(99, 'b'), "", "c"));
  EXPECT_THAT(SplitDescriptionLines(" [Time] \r\n\tx = 1\t\r\n"), ElementsAre("[Time]", "x = 1"));
  // A leading byte-order mark made the first header unrecognised.
  EXPECT_THAT(SplitDescriptionLines("\xEF\xBB\xBF[Time]\n"), ElementsAre("[Time]"));
  // Text after a NUL is lost; invalid UTF-8 makes the whole line empty; Unicode spaces trim.
  EXPECT_THAT(SplitDescriptionLines(std::string("ab\0cd\ne\xFF\n\xC2\xA0z\xE3\x80\x80", 15)),
              ElementsAre("ab", "", "z"));
  // A two-byte character cut by the 99-byte boundary spoils both pieces.
  EXPECT_THAT(SplitDescriptionLines(std::string(98, 'q') + "\xC3\xA9rest"), ElementsAre("", ""));
}

// Records what the reader hands the handlers and what it logs.
class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetLogSink([this](std::string_view line) { log_.emplace_back(line); });
  }
  void TearDown() override { SetLogSink(std::move(previous_)); }

  bool Read(const std::string& text, const ChipSyntax& syntax = CommonChipSyntax()) {
    const ChipSection sections[] = {
        {"Keys", SectionKind::kKeys, NumberKeys({{"Alpha", &alpha_}, {"Beta", &beta_}}),
         [this] { ++enters_; }},
        {"Any Key", SectionKind::kKeyNotExamined,
         [this](std::string_view, std::string_view v) { return StoreNumber(v, any_); }},
        {"Lines", SectionKind::kLines,
         [this](std::string_view key, std::string_view v) {
           EXPECT_TRUE(key.empty());
           lines_.emplace_back(v);
           return LineOutcome::kTaken;
         }},
    };
    return ReadChipDescription(text, syntax, sections);
  }

  std::vector<std::string> log_;
  std::vector<std::string> lines_;
  uint32_t alpha_ = 0, beta_ = 0, any_ = 0;
  int enters_ = 0;

 private:
  LogSink previous_;
};

TEST_F(ReaderTest, HeaderAndKeyRules) {
  struct Case {
    std::string text;
    bool ok;
    uint32_t alpha, any;
    std::vector<std::string> log;
  };
  const std::vector<Case> cases = {
      {"[keys]\nALPHA = 5\n", true, 5, 0, {}},
      {"[ Keys ] trailing text\nalpha=0x10\nalpha = 7\n", true, 7, 0, {}},
      {"[Keys\nalpha = 5\n", false, 0, 0, {}},
      {"[Keys]\nalpha 5\n", false, 0, 0, {}},
      {"[Keys]\nalpha = \n", false, 0, 0, {}},
      {"[Keys]\nGamma = 1\nalpha = 2 = 3\n", true, 5143, 0, {"Unknown:Gamma"}},
      {"[Any Key]\nType = 2\n", true, 0, 2, {}},
      {"[Any Key]\n= 9\n", true, 0, 9, {}},
      {"[Any Key]\nSize = 0x800 ; note\n", false, 0, 0, {}},
      {"[Any Key]\n9\n", false, 0, 0, {}},
      {"x = 1\n[Other]\ny = 2\n[]\nz\n", true, 0, 0, {"Unknown:", "Unknown:Other", "Unknown:"}},
      {"; c\n  // c\n[Keys]\n;alpha = 1\n//alpha = 2\n--alpha = 3\n",
       true,
       0,
       0,
       {"Unknown:--alpha"}},
  };
  for (const Case& c : cases) {
    alpha_ = any_ = 0;
    log_.clear();
    EXPECT_EQ(Read(c.text), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(alpha_, c.alpha) << c.text;
      EXPECT_EQ(any_, c.any) << c.text;
    }
    EXPECT_EQ(log_, c.log) << c.text;
  }
}

TEST_F(ReaderTest, LineSectionsTakeWholeLinesAndHeadersReenter) {
  ASSERT_TRUE(Read("[Lines]\nS0 = 100\n 0x10 \n[Keys]\n[KEYS]\n[Lines]\n7\n"));
  EXPECT_THAT(lines_, ElementsAre("S0 = 100", "0x10", "7"));
  EXPECT_EQ(enters_, 2);
}

TEST_F(ReaderTest, A1SyntaxMarkersAndFatalUnknownSections) {
  struct Case {
    std::string text;
    bool ok;
  };
  const Case cases[] = {
      {"--note\n;note\n[Keys]\nalpha = 1\n", true},
      // "//" is no comment here: in a key section the line lacks "=".
      {"[Keys]\n// note\n", false},
      {"alpha = 1\n[Keys]\n", false},
      {"[Other]\nalpha = 1\n", false},
      {"[Other]\n[Keys]\nalpha = 1\n", true},
      {"[Keys]\nGamma = 1\n", true},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.text, A1ChipSyntax()), c.ok) << c.text;
}

}  // namespace
}  // namespace vortan
