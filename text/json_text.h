// The exact text of values, as --json, --diff and --entries write them and
// --from-json and --set read them back: integers, reals that keep their 64
// bits, and names that keep every byte.
#ifndef PARAMLIST_JSON_TEXT_H
#define PARAMLIST_JSON_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

// The writers below write at at, which must have the room given, and return
// the end of what they wrote; each has an append form too. They serve the
// loops that write many values, where appending to a string one piece at a
// time would cost more than the formatting.
constexpr std::size_t integerRoom = 20;
constexpr std::size_t jsonRealRoom = 32;
constexpr std::size_t jsonNameRoom = 6 * 50 + 2;

// Appends value in plain decimal.
char* writeInteger(char* at, unsigned long value);
void appendInteger(std::string& out, unsigned long value);

// Appends value as JSON that reads back to the same 64 bits: the shortest
// round-trip number ("-0.0" for negative zero), or one of the strings
// "Infinity", "-Infinity", "NaN" (the bits 0x7ff8000000000000) and "0x" with
// 16 hex digits for any other NaN.
char* writeJsonReal(char* at, double value);
void appendJsonReal(std::string& out, double value);

// The real that a string written by appendJsonReal stands for; false for any
// other string.
bool parseJsonRealString(const std::string& text, double& value);

char* writeJsonBool(char* at, bool value);

// The value of a hexadecimal digit of either case, or -1.
int hexDigitValue(char digit);

// Whether the length bytes at text follow JSON's grammar of a number.
bool isJsonNumber(const char* text, std::size_t length);

// Reads the length bytes at text, a JSON number, to the nearest double, as
// --from-json and --set both read a real. A zero, and a number too small for
// the smallest denormal, keep their sign ("-0" and "-1e-400" are -0.0). False,
// with problem saying why, for text that is not a JSON number or a number too
// large for a real.
bool parseJsonNumber(const char* text, std::size_t length, double& value, std::string& problem);

// Whether name fits a name field: at most 50 bytes and no zero byte; problem
// says why not.
bool fitsNameField(const std::string& name, std::string& problem);

// Decodes the "hex" of {"hex":"..."}, two digits of either case a byte, into
// bytes; false with problem otherwise.
bool parseHexBytes(const std::string& hex, std::string& bytes, std::string& problem);

// Decodes the "hex" of a name written as {"hex":"..."} into name, which must
// fit a name field; false with problem otherwise.
bool parseHexName(const std::string& hex, std::string& name, std::string& problem);

// Appends a name of length bytes, at most 50: a JSON string when it is valid
// UTF-8, every control character (controlLength) escaped, otherwise
// {"hex":"..."} with its bytes.
char* writeJsonName(char* at, const char* name, std::size_t length);
void appendJsonName(std::string& out, const char* name, std::size_t length);

// Appends {"hex":"..."} with the bytes of a name of length bytes, at most 50.
char* writeHexName(char* at, const char* name, std::size_t length);

// Appends a path as --json writes it to be read back: a JSON string when it
// is valid UTF-8 (as appendJsonText), otherwise {"hex":"..."} with its bytes,
// as a name is written, so that every byte survives.
void appendJsonPath(std::string& out, const char* path, std::size_t length);

// Appends text as a JSON string, every control character (controlLength)
// escaped, and each byte that is not part of valid UTF-8 replaced by U+FFFD.
void appendJsonText(std::string& out, const char* text, std::size_t length);

// The bit pattern of a real, which is what tells reals apart exactly.
std::uint64_t realBits(double value);

#endif
