// Text shown on a terminal, and the UTF-8 it is judged by: a name or a path
// is shown so that no byte of it can drive the terminal it lands on.
#ifndef PARAMLIST_TERMINAL_TEXT_H
#define PARAMLIST_TERMINAL_TEXT_H

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

// Whether descriptor fd is a terminal, where text is shown escaped.
bool isTerminal(int fd);

// Appends text as it is shown where it goes: escaped as appendVisible does
// when that is a terminal, as it is otherwise, so that a pipe or a file gets
// the bytes themselves.
void appendShown(std::string& out, std::string_view text, bool onTerminal);

// Appends text with the bytes of every control character (controlLength) and
// every byte that is not part of valid UTF-8 written as \xHH, so that it
// cannot drive a terminal.
void appendVisible(std::string& out, const char* text, std::size_t length);

// The tests below are inline: the writers of JSON text and of escapes ask
// them of every byte of a name.

// Whether byte is a control character of one byte: below 0x20, or DEL.
inline bool isControlByte(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7f;
}

// The length of the control character at text[0], of the available bytes:
// 1 for a byte below 0x20 and DEL, 2 for the UTF-8 form of a C1 control
// (U+0080 to U+009F, such as the one-character CSI U+009B, which some
// terminals obey), 0 for anything else.
inline std::size_t controlLength(const unsigned char* text, std::size_t available)
{
    if (isControlByte(text[0])) {
        return 1;
    }
    return available >= 2 && text[0] == 0xc2 && text[1] >= 0x80 && text[1] < 0xa0 ? 2 : 0;
}

// The length of the valid UTF-8 sequence at text[0], or 0 when it is not one.
inline std::size_t utf8SequenceLength(const unsigned char* text, std::size_t available)
{
    const unsigned char lead = text[0];
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;  // no overlong forms
        high = lead == 0xed ? 0x9f : 0xbf; // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;  // no overlong forms
        high = lead == 0xf4 ? 0x8f : 0xbf; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (available < length || text[1] < low || text[1] > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (text[i] < 0x80 || text[i] > 0xbf) {
            return 0;
        }
    }
    return length;
}

// Whether length bytes of text are valid UTF-8.
inline bool isValidUtf8(const char* text, std::size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) {
        const std::size_t sequence = utf8SequenceLength(bytes + i, length - i);
        if (sequence == 0) {
            return false;
        }
        i += sequence;
    }
    return true;
}

// The two hex digits of every byte, so that a byte is written with one copy.
struct HexPairs {
    char digits[256][2];
    constexpr HexPairs() : digits()
    {
        constexpr char hexDigits[] = "0123456789abcdef";
        for (int byte = 0; byte < 256; ++byte) {
            digits[byte][0] = hexDigits[byte >> 4];
            digits[byte][1] = hexDigits[byte & 0xf];
        }
    }
};
inline constexpr HexPairs hexPairs;

// Writes the two lowercase hexadecimal digits of byte at at and returns their
// end: the escapes here and the hexadecimal forms of JSON text use them.
inline char* writeHexByte(char* at, unsigned char byte)
{
    std::memcpy(at, hexPairs.digits[byte], 2);
    return at + 2;
}

#endif
