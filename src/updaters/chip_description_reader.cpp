// SPDX-License-Identifier: Apache-2.0
#include "updaters/chip_description_reader.h"

#include <algorithm>
#include <optional>

#include "util/diag_log.h"
#include "util/utf8_text.h"

namespace vortan {
namespace {

// One 100-byte fgets read holds at most 99 bytes of the line.
constexpr size_t kLineReadBytes = 99;

uint32_t DecimalReading(std::u16string_view units) {
  uint32_t value = 0;
  for (char16_t u : units) value = value * 10u + (static_cast<uint32_t>(u) - 48u);
  return value;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

const ChipSection* FindSection(std::span<const ChipSection> sections, std::string_view name) {
  for (const ChipSection& s : sections) {
    if (EqualsNoCase(s.name, name)) return &s;
  }
  return nullptr;
}

void LogUnknown(std::string_view name) {
  DiagLog("Unknown:" + std::string(name));
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
  return std::search(text.begin(), text.end(), part.begin(), part.end(),
                     [](char x, char y) { return Lower(x) == Lower(y); }) != text.end();
}

bool ParseNumber(std::string_view text, uint32_t& value) {
  auto units = Utf8ToUtf16(text);
  if (!units || units->empty()) return false;
  if (units->size() == 1) {
    const char16_t c = (*units)[0];
    if (c < u'0' || c > u'9') return false;
    value = c - u'0';
    return true;
  }
  const std::string_view s = TrimSpace(text);
  const bool hexPrefix = s.size() >= 2 && s[0] == '0' && Lower(s[1]) == 'x';
  const bool hexSuffix = !s.empty() && Lower(s.back()) == 'h';
  if (hexPrefix || hexSuffix) {
    std::string_view digits = s;
    if (hexPrefix) digits.remove_prefix(2);
    if (hexSuffix && !digits.empty()) digits.remove_suffix(1);
    if (digits.empty()) return false;
    uint32_t v = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return false;
      v = (v << 4) | static_cast<uint32_t>(d);
    }
    value = v;
    return true;
  }
  const std::u16string trimmed = *Utf8ToUtf16(s);
  std::u16string_view all(trimmed);
  const auto allButLast = [&] { return all.empty() ? all : all.substr(0, all.size() - 1); };
  if (s.find_first_of("Kk") != std::string_view::npos) {
    value = DecimalReading(allButLast()) * 1024u;
  } else if (s.find_first_of("Mm") != std::string_view::npos) {
    value = DecimalReading(allButLast()) * 1048576u;
  } else {
    value = DecimalReading(all);
  }
  return true;
}

std::vector<std::string> SplitDescriptionLines(std::string_view bytes) {
  bytes = SkipByteOrderMark(bytes);
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = pos;
    while (end < bytes.size() && end - pos < kLineReadBytes) {
      if (bytes[end++] == '\n') break;
    }
    std::string_view piece = bytes.substr(pos, end - pos);
    pos = end;
    // The read line is a C string: its text ends at the first NUL.
    piece = piece.substr(0, piece.find('\0'));
    lines.emplace_back(IsValidUtf8(piece) ? TrimSpace(piece) : std::string_view());
  }
  return lines;
}

bool ReadChipDescription(std::string_view bytes, const ChipSyntax& syntax,
                         std::span<const ChipSection> sections) {
  std::string currentName;
  const ChipSection* current = nullptr;
  for (const std::string& line : SplitDescriptionLines(bytes)) {
    if (line.empty()) continue;
    const bool comment =
        std::any_of(syntax.commentMarkers.begin(), syntax.commentMarkers.end(),
                    [&](std::string_view marker) { return line.starts_with(marker); });
    if (comment) continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      if (close == std::string::npos) return false;
      currentName = TrimSpace(std::string_view(line).substr(1, close - 1));
      current = FindSection(sections, currentName);
      if (current && current->enter) current->enter();
      continue;
    }
    if (!current) {
      if (syntax.unknownSections == UnknownSections::kFail) return false;
      LogUnknown(currentName);
      continue;
    }
    std::string_view key;
    std::string_view value = line;
    if (current->kind != SectionKind::kLines) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos) return false;
      key = TrimSpace(std::string_view(line).substr(0, eq));
      value = TrimSpace(std::string_view(line).substr(eq + 1));
    }
    switch (current->line(key, value)) {
      case LineOutcome::kTaken:
        break;
      case LineOutcome::kUnknown:
        LogUnknown(current->kind == SectionKind::kLines ? value : key);
        break;
      case LineOutcome::kRefused:
        return false;
    }
  }
  return true;
}

const ChipSyntax& CommonChipSyntax() {
  static const ChipSyntax syntax{{";", "//"}, UnknownSections::kLogAndSkip};
  return syntax;
}

const ChipSyntax& A1ChipSyntax() {
  static const ChipSyntax syntax{{";", "--"}, UnknownSections::kFail};
  return syntax;
}

LineOutcome StoreNumber(std::string_view value, uint32_t& destination) {
  uint32_t v = 0;
  if (!ParseNumber(value, v)) return LineOutcome::kRefused;
  destination = v;
  return LineOutcome::kTaken;
}

LineOutcome AppendNumber(std::string_view value, std::vector<uint32_t>& list) {
  uint32_t v = 0;
  if (!ParseNumber(value, v)) return LineOutcome::kRefused;
  list.push_back(v);
  return LineOutcome::kTaken;
}

ChipSection::LineHandler NumberKeys(std::vector<NumberKey> keys) {
  return [keys = std::move(keys)](std::string_view key, std::string_view value) {
    for (const NumberKey& k : keys) {
      if (EqualsNoCase(k.key, key)) return StoreNumber(value, *k.destination);
    }
    return LineOutcome::kUnknown;
  };
}

}  // namespace vortan
