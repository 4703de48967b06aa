// Escaping for HTML, and cutting escaped text to a length.
#include "html_text.h"

#include "terminal_text.h"

#include <vector>

namespace {

// The reference for a byte that markup reads, or nullptr for one it does not.
const char* referenceFor(char byte)
{
    switch (byte) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    case '\'':
        return "&#39;";
    default:
        return nullptr;
    }
}

// The bytes the character at text[0] takes on the page, and in text.
struct Piece {
    std::size_t pageBytes;
    std::size_t textBytes;
};

Piece pieceAt(std::string_view text, std::size_t at)
{
    const char* reference = referenceFor(text[at]);
    if (reference != nullptr) {
        return {std::char_traits<char>::length(reference), 1};
    }
    const std::size_t sequence =
        utf8SequenceLength(reinterpret_cast<const unsigned char*>(text.data()) + at, text.size() - at);
    const std::size_t length = sequence == 0 ? 1 : sequence;
    return {length, length};
}

constexpr char ellipsis[] = "\xe2\x80\xa6";
constexpr std::size_t ellipsisBytes = sizeof ellipsis - 1;

} // namespace

void appendHtml(std::string& out, std::string_view text)
{
    for (const char byte : text) {
        const char* reference = referenceFor(byte);
        if (reference != nullptr) {
            out += reference;
        } else {
            out += byte;
        }
    }
}

std::size_t htmlLength(std::string_view text)
{
    std::size_t length = 0;
    for (const char byte : text) {
        const char* reference = referenceFor(byte);
        length += reference != nullptr ? std::char_traits<char>::length(reference) : 1;
    }
    return length;
}

void appendHtmlCut(std::string& out, std::string_view text, std::size_t most, bool fromEnd)
{
    std::size_t whole = 0;
    std::vector<Piece> pieces;
    for (std::size_t at = 0; at < text.size();) {
        pieces.push_back(pieceAt(text, at));
        whole += pieces.back().pageBytes;
        at += pieces.back().textBytes;
    }
    if (whole <= most) {
        appendHtml(out, text);
        return;
    }
    // Whole characters only, the ellipsis counted in.
    std::size_t room = most > ellipsisBytes ? most - ellipsisBytes : 0;
    if (!fromEnd) {
        std::size_t kept = 0;
        for (const Piece& piece : pieces) {
            if (piece.pageBytes > room) {
                break;
            }
            room -= piece.pageBytes;
            kept += piece.textBytes;
        }
        appendHtml(out, text.substr(0, kept));
        out += ellipsis;
        return;
    }
    std::size_t taken = 0;
    for (auto piece = pieces.rbegin(); piece != pieces.rend() && piece->pageBytes <= room; ++piece) {
        room -= piece->pageBytes;
        taken += piece->textBytes;
    }
    out += ellipsis;
    appendHtml(out, text.substr(text.size() - taken));
}

std::string visibleText(std::string_view text)
{
    std::string shown;
    appendVisible(shown, text.data(), text.size());
    return shown;
}
