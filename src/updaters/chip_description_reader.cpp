#include "updaters/chip_description_reader.h"

#include <algorithm>
#include <optional>

#include "config/diag_log.h"

namespace vortan {
namespace {

// One 100-byte fgets read holds at most 99 bytes of the line.
constexpr size_t kLineReadBytes = 99;

// Decodes the code point at `text[pos]`, advancing pos; nullopt for any malformed, overlong or
// surrogate sequence, as a strict UTF-8 decoder refuses them.
std::optional<char32_t> DecodeUtf8(std::string_view text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t b0 = byte(pos);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  size_t extra;
  char32_t cp;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    return std::nullopt;
  }
  if (pos + extra >= text.size()) return std::nullopt;
  for (size_t i = 1; i <= extra; ++i) {
    const uint8_t b = byte(pos + i);
    if ((b & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
  pos += extra + 1;
  return cp;
}

bool ValidUtf8(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    if (!DecodeUtf8(text, pos)) return false;
  }
  return true;
}

// The platform's "whitespace and newline" set: tab to carriage return, the Unicode space
// separators, line and paragraph separators and next-line.
bool IsTrimmed(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Trims valid UTF-8 text at both ends.
std::string_view Trim(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    size_t next = begin;
    auto cp = DecodeUtf8(text, next);
    if (!cp || !IsTrimmed(*cp)) break;
    begin = next;
  }
  size_t end = text.size();
  while (end > begin) {
    size_t start = end - 1;
    while (start > begin && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80) --start;
    size_t next = start;
    auto cp = DecodeUtf8(text, next);
    if (!cp || next != end || !IsTrimmed(*cp)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

// The text as UTF-16 units, the units in which the number syntax counts characters.
std::optional<std::u16string> ToUtf16(std::string_view text) {
  std::u16string units;
  size_t pos = 0;
  while (pos < text.size()) {
    auto cp = DecodeUtf8(text, pos);
    if (!cp) return std::nullopt;
    if (*cp >= 0x10000) {
      const char32_t v = *cp - 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(*cp));
    }
  }
  return units;
}

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
  auto units = ToUtf16(text);
  if (!units || units->empty()) return false;
  if (units->size() == 1) {
    const char16_t c = (*units)[0];
    if (c < u'0' || c > u'9') return false;
    value = c - u'0';
    return true;
  }
  const std::string_view s = Trim(text);
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
  const std::u16string trimmed = *ToUtf16(s);
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
    lines.emplace_back(ValidUtf8(piece) ? Trim(piece) : std::string_view());
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
      currentName = Trim(std::string_view(line).substr(1, close - 1));
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
      key = Trim(std::string_view(line).substr(0, eq));
      value = Trim(std::string_view(line).substr(eq + 1));
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
