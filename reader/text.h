#ifndef VANTORIL_TEXT_H
#define VANTORIL_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantoril {

// Invalid sequences become U+FFFD; nothing is escaped.
std::u16string utf8ToUtf16(const std::string &text);
// Lone surrogates become U+FFFD.
std::string utf16ToUtf8(const std::u16string &text);
// As utf16ToUtf8, except that a lone U+DC80..U+DCFF becomes the byte 0x80..0xFF it
// stands for: the caller's form of file-name bytes that are not UTF-8.
std::string fileNameBytes(const std::u16string &path);

// Removes white space (as Unicode defines it for the BMP) from both ends.
std::u16string trimmed(const std::u16string &text);

// The longest prefix of at most maxUnits units that does not split a surrogate pair.
std::size_t cutAtCodePoint(const std::u16string &text, std::size_t maxUnits);

std::string lowerHex(const std::uint8_t *data, std::size_t size);

} // namespace vantoril

#endif
