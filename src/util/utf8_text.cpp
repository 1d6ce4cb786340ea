// SPDX-License-Identifier: Apache-2.0
#include "util/utf8_text.h"

#include <cstdint>

namespace vortan {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// Decodes one code point at text[pos]. Returns the number of bytes it takes (1 to 4) and sets
// `cp`; on an ill-formed sequence returns 0 and sets `bad` to the length of its maximal subpart
// (at least 1), the bytes one U+FFFD stands for.
size_t DecodeAt(std::string_view text, size_t pos, char32_t& cp, size_t& bad) {
  const auto at = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t b0 = at(pos);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t length;
  // Bounds of the second byte; they exclude overlong forms, surrogates and values past U+10FFFF.
  uint8_t lo = 0x80;
  uint8_t hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    bad = 1;
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    const bool inRange = pos + i < text.size() && at(pos + i) >= (i == 1 ? lo : 0x80) &&
                         at(pos + i) <= (i == 1 ? hi : 0xBF);
    if (!inRange) {
      bad = i;
      return 0;
    }
    cp = (cp << 6) | (at(pos + i) & 0x3F);
  }
  return length;
}

}  // namespace

std::optional<std::u16string> Utf8ToUtf16(std::string_view bytes) {
  std::u16string units;
  size_t pos = 0;
  while (pos < bytes.size()) {
    char32_t cp;
    size_t bad;
    const size_t n = DecodeAt(bytes, pos, cp, bad);
    if (n == 0) return std::nullopt;
    pos += n;
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(cp));
    }
  }
  return units;
}

bool IsValidUtf8(std::string_view bytes) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    char32_t cp;
    size_t bad;
    const size_t n = DecodeAt(bytes, pos, cp, bad);
    if (n == 0) return false;
    pos += n;
  }
  return true;
}

std::string RepairUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t pos = 0;
  while (pos < bytes.size()) {
    char32_t cp;
    size_t bad;
    const size_t n = DecodeAt(bytes, pos, cp, bad);
    if (n == 0) {
      out += kReplacement;
      pos += bad;
    } else {
      out.append(bytes.substr(pos, n));
      pos += n;
    }
  }
  return out;
}

std::string FieldText(std::string_view field) {
  return RepairUtf8(field.substr(0, field.find('\0')));
}

bool IsSpaceOrLineBreak(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::string_view TrimSpace(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    char32_t cp;
    size_t bad;
    const size_t n = DecodeAt(text, begin, cp, bad);
    if (n == 0 || !IsSpaceOrLineBreak(cp)) break;
    begin += n;
  }
  size_t end = text.size();
  while (end > begin) {
    // Step back to the lead byte of the last character (at most three continuation bytes).
    size_t start = end - 1;
    while (start > begin && end - start < 4 && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    char32_t cp;
    size_t bad;
    const size_t n = DecodeAt(text, start, cp, bad);
    if (n != end - start || !IsSpaceOrLineBreak(cp)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::string_view SkipByteOrderMark(std::string_view text) {
  constexpr std::string_view kMark = "\xEF\xBB\xBF";
  return text.starts_with(kMark) ? text.substr(kMark.size()) : text;
}

}  // namespace vortan
