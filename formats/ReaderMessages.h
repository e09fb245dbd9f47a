// ReaderMessages: what the readers' errors mean, for people. The readers keep their own short
// texts (some in Japanese, e.g. "ストリームからの読み取りエラー"); whoever shows one adds the
// file's name and an English explanation, through the one table here, so that the viewer and the
// inspector say the same. Depends on the standard library only.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// What a file was read as, for the message's wording.
enum class TReadFileRole : std::uint8_t { rfModel, rfMotion, rfImage };

// The English meaning of a reader's error text, or "" for a text that explains itself or is not
// known. Texts with a detail in parentheses (e.g. "未知のバージョン (1.00)") are known by their
// start.
std::string ReaderErrorMeaning(std::string_view AReaderText);

// The message for a file a reader failed on: `Cannot read model "PATH": TEXT (MEANING)`, without
// the parenthesis when the meaning is unknown. A text that already names the file in quotes (the
// file layer's "Cannot open file "PATH". ...") is returned as it is.
std::string ReadFileErrorMessage(TReadFileRole ARole, const std::string& APath,
                                 const std::string& AReaderText);

// A file signature for a message: the bytes as text when every one is printable ASCII, else as
// upper-case hex bytes separated by spaces ("89 50 4E 47"), so that binary data never garbles
// or cuts the message.
std::string ShownSignature(std::span<const std::uint8_t> ABytes);
