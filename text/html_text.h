// Text in an HTML page: escaped, so that no name or path from a file can
// become markup, and cut short where the page has no room for all of it.
#ifndef PARAMLIST_HTML_TEXT_H
#define PARAMLIST_HTML_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

// Appends text, valid UTF-8, with &, <, >, " and ' written as character
// references: it is then only text, in an element or a quoted attribute.
void appendHtml(std::string& out, std::string_view text);

// How many bytes appendHtml makes of text.
std::size_t htmlLength(std::string_view text);

// The same, but of at most most bytes of the page: when all of text would
// take more, its start, or with fromEnd its end, with "…" where the rest was.
// most is at least 3, the bytes of "…".
void appendHtmlCut(std::string& out, std::string_view text, std::size_t most, bool fromEnd = false);

// text as the page shows a path or any bytes: every control character and
// every byte that is not part of valid UTF-8 written as \xHH, as a terminal
// is shown them; the result is valid UTF-8, for appendHtml.
std::string visibleText(std::string_view text);

#endif
