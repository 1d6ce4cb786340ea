// SPDX-License-Identifier: Apache-2.0
#pragma once
// The line and number syntax of chip description files, shared by every chip family. A family
// describes its sections (name, kind, line handler) and the reader drives them over the file's
// bytes; the families' departures (comment markers, unknown sections fatal or logged) are the
// parameters of ChipSyntax.
//
// Lines: the bytes are cut exactly as 100-byte fgets reads cut them (at most 99 bytes, ending
// after a line break or earlier; a NUL ends the line's text), each piece is decoded as UTF-8 (an
// invalid piece counts as empty) and trimmed of whitespace and line breaks. Empty and comment
// lines are skipped. "[name]" opens a section (text after "]" ignored; no "]" fails). Section and
// key names match without regard to ASCII case. Skipped sections and keys go to DiagLog as
// "Unknown:<name>".
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vortan {

// The number syntax: a lone character must be a decimal digit; "0x..." or "...H" is hex (modulo
// 2^32, digits validated, none rejected); otherwise "K"/"k" anywhere multiplies the decimal
// reading of all but the last character by 1024, "M"/"m" by 1048576; otherwise decimal. The
// decimal reading does not validate: each UTF-16 unit adds (code - 48), modulo 2^32, so "1A" is
// 27. Stored description files were made against exactly this. False when rejected; `value` is
// then unspecified. Text that is not valid UTF-8 is rejected.
bool ParseNumber(std::string_view text, uint32_t& value);

enum class SectionKind {
  kKeys,            // key = value; the handler gets both and may answer kUnknown for the key
  kKeyNotExamined,  // key = value; the key is passed but carries no meaning
  kLines,           // the whole trimmed line is the value; the key passed is empty
};

enum class LineOutcome {
  kTaken,
  kUnknown,  // logged as "Unknown:<key>" (the line itself in a line section), reading goes on
  kRefused,  // the description is refused (a value ParseNumber rejects, for one)
};

struct ChipSection {
  using LineHandler = std::function<LineOutcome(std::string_view key, std::string_view value)>;
  ChipSection(std::string_view name_, SectionKind kind_, LineHandler line_,
              std::function<void()> enter_ = {})
      : name(name_), kind(kind_), line(std::move(line_)), enter(std::move(enter_)) {}

  std::string_view name;
  SectionKind kind;
  LineHandler line;
  // Called for every header that opens this section; may be empty.
  std::function<void()> enter;
};

enum class UnknownSections {
  kLogAndSkip,  // each line of an unknown section (or before any header) logs the section name
  kFail,        // such a line refuses the description
};

struct ChipSyntax {
  // A trimmed line that starts with one of these is a comment.
  std::vector<std::string_view> commentMarkers;
  UnknownSections unknownSections;
};

// ";" and "//" comments, unknown sections logged and skipped (families A2 and C1).
const ChipSyntax& CommonChipSyntax();
// ";" and "--" comments ("//" starts an ordinary line), unknown sections fatal (family A1).
const ChipSyntax& A1ChipSyntax();

// Reads the whole description held in `bytes`. False when a header lacks "]", a line of a key
// section lacks "=", a handler refuses, or (kFail) a line stands outside the known sections.
// Handlers already called keep their effects after a failure.
bool ReadChipDescription(std::string_view bytes, const ChipSyntax& syntax,
                         std::span<const ChipSection> sections);

// The lines as the reader sees them: cut, decoded, trimmed (empty ones included).
std::vector<std::string> SplitDescriptionLines(std::string_view bytes);

// Handler helpers.
LineOutcome StoreNumber(std::string_view value, uint32_t& destination);
LineOutcome AppendNumber(std::string_view value, std::vector<uint32_t>& list);
struct NumberKey {
  std::string_view key;
  uint32_t* destination;
};
// A kKeys handler that stores each listed key's number and answers kUnknown for other keys.
ChipSection::LineHandler NumberKeys(std::vector<NumberKey> keys);

bool EqualsNoCase(std::string_view a, std::string_view b);
bool ContainsNoCase(std::string_view text, std::string_view part);

}  // namespace vortan
