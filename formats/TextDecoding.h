// Text decoding for the model and motion readers: UTF-16LE, UTF-8 and code page 932 (Shift-JIS)
// bytes into UTF-8 strings. Malformed input never fails: each bad sequence becomes U+FFFD.
// Code page 932 goes through glibc iconv. Depends on the standard library only.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// UTF-16LE bytes to UTF-8. Unpaired surrogates and an odd trailing byte become U+FFFD.
std::string DecodeUtf16LE(std::span<const uint8_t> ABytes);

// UTF-8 bytes to well-formed UTF-8: overlong forms, surrogates, code points above U+10FFFF and
// truncated sequences become U+FFFD (one per maximal ill-formed subpart).
std::string DecodeUtf8(std::span<const uint8_t> ABytes);

// Code page 932 (Shift-JIS with the Windows extensions) bytes to UTF-8. Bytes that do not form a
// character become U+FFFD.
std::string Cp932ToUtf8(std::span<const uint8_t> ABytes);

// A fixed-size motion name field (15 bytes in a motion file): the bytes up to the first NUL, or
// all of them when there is none, decoded from code page 932.
std::string DecodeVmdName(std::span<const uint8_t> AField);

// UTF-8 text to code page 932 bytes; characters that code page 932 cannot hold become '?'.
// The inverse of Cp932ToUtf8 for names that writers of motion files need.
std::string Utf8ToCp932(std::string_view AText);
