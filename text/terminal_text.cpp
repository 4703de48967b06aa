// Escaping for a terminal and the UTF-8 rules that decide what is escaped.
#include "terminal_text.h"

#include <algorithm>

#include <unistd.h>

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
