// Text shown on a terminal, and the UTF-8 it is judged by: a name or a path
// is shown so that no byte of it can drive the terminal it lands on.
#ifndef PARAMLIST_TERMINAL_TEXT_H
#define PARAMLIST_TERMINAL_TEXT_H

#include <cstddef>
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

// Whether byte is a control character of one byte: below 0x20, or DEL.
// Inline, as the JSON writers ask it of every byte of a name.
inline bool isControlByte(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7f;
}

// The length of the control character at text[0], of the available bytes:
// 1 for a byte below 0x20 and DEL, 2 for the UTF-8 form of a C1 control
// (U+0080 to U+009F, such as the one-character CSI U+009B, which some
// terminals obey), 0 for anything else.
std::size_t controlLength(const unsigned char* text, std::size_t available);

// The length of the valid UTF-8 sequence at text[0], or 0 when it is not one.
std::size_t utf8SequenceLength(const unsigned char* text, std::size_t available);

// Whether length bytes of text are valid UTF-8.
bool isValidUtf8(const char* text, std::size_t length);

// Writes the two lowercase hexadecimal digits of byte at at and returns their
// end: the escapes here and the hexadecimal forms of JSON text use them.
char* writeHexByte(char* at, unsigned char byte);

#endif
