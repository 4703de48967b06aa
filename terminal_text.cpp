// Escaping for a terminal and the UTF-8 rules that decide what is escaped.
#include "terminal_text.h"

#include <algorithm>
#include <cstring>

#include <unistd.h>

namespace {

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
constexpr HexPairs hexPairs;

} // namespace

bool isTerminal(int fd)
{
    return ::isatty(fd) == 1;
}

void appendShown(std::string& out, std::string_view text, bool onTerminal)
{
    if (onTerminal) {
        appendVisible(out, text.data(), text.size());
    } else {
        out += text;
    }
}

void appendVisible(std::string& out, const char* text, std::size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) {
        const std::size_t sequence = utf8SequenceLength(bytes + i, length - i);
        const std::size_t control = controlLength(bytes + i, length - i);
        if (sequence == 0 || control != 0) {
            const std::size_t escaped = std::max<std::size_t>(control, 1);
            for (std::size_t k = 0; k < escaped; ++k) {
                char hex[4] = {'\\', 'x'};
                writeHexByte(hex + 2, bytes[i + k]);
                out.append(hex, sizeof hex);
            }
            i += escaped;
        } else {
            out.append(text + i, sequence);
            i += sequence;
        }
    }
}

std::size_t controlLength(const unsigned char* text, std::size_t available)
{
    if (isControlByte(text[0])) {
        return 1;
    }
    return available >= 2 && text[0] == 0xc2 && text[1] >= 0x80 && text[1] < 0xa0 ? 2 : 0;
}

std::size_t utf8SequenceLength(const unsigned char* text, std::size_t available)
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

bool isValidUtf8(const char* text, std::size_t length)
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

char* writeHexByte(char* at, unsigned char byte)
{
    std::memcpy(at, hexPairs.digits[byte], 2);
    return at + 2;
}
