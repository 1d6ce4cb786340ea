// SPDX-License-Identifier: Apache-2.0
#pragma once
// Byte texts that are meant to be UTF-8: a strict validity test, a decoding that never fails
// (ill-formed bytes become U+FFFD), and trimming of the platform's white-space and line-break
// characters.
#include <optional>
#include <string>
#include <string_view>

namespace vortan {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates, nothing above
// U+10FFFF, no truncated sequence.
bool IsValidUtf8(std::string_view bytes);

// The text as UTF-16 code units (the units in which character counts of text are taken), or
// nullopt when it is not well-formed UTF-8.
std::optional<std::u16string> Utf8ToUtf16(std::string_view bytes);

// `bytes` with each maximal ill-formed subpart replaced by one U+FFFD, as the Unicode standard
// recommends; well-formed input comes back unchanged. NUL bytes are kept.
std::string RepairUtf8(std::string_view bytes);

// The text up to its first NUL (all of it when there is none), repaired as above. Fixed-size
// text fields are NUL-padded, and a full field has no NUL at all.
std::string FieldText(std::string_view field);

// True for tab to carriage return, next-line, the Unicode space separators and the line and
// paragraph separators.
bool IsSpaceOrLineBreak(char32_t c);

// `text` without white space and line breaks at either end. Bytes that do not decode are not
// white space and stop the trimming.
std::string_view TrimSpace(std::string_view text);

// `text` without a UTF-8 byte-order mark at its start. Editors on other systems write one; read
// as text it would make the first key or header unknown.
std::string_view SkipByteOrderMark(std::string_view text);

}  // namespace vortan
