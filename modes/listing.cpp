// The bare listing of one file, and the mode that prints it with the lines
// around it: the file it read, or why it could not.
#include "listing.h"

#include "Parameter.h"
#include "diagnostics.h"
#include "entry.h"
#include "input_files.h"
#include "json_text.h"
#include "modes.h"
#include "terminal_text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

// Appends "(" index ":" and leaves the entry open for its value.
void openEntry(std::string& out, unsigned int i)
{
    out += '(';
    appendInteger(out, i);
    out += ':';
}

void closeEntry(std::string& out)
{
    out += ") ";
}

// The lines load prints, with the path shown escaped on a terminal, and "-"
// read as standard input.
bool loadShown(Parameter& para, const char* file, bool terminal, std::size_t* length)
{
    if (!terminal && !isStandardInput(file)) {
        return para.load(file, length);
    }
    const InputFile input(file);
    if (input.fd() < 0) {
        const int reason = errno;
        std::puts("File could not be opened");
        errno = reason;
        return false;
    }
    std::string line = "reading from file : ";
    appendShown(line, file, terminal);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    return para.readFrom(input.fd(), length);
}

} // namespace

// The sign of a NaN that arithmetic produces differs between processors, so
// the listing prints every NaN alike.
void appendRoundedReal(std::string& out, double value)
{
    if (std::isnan(value)) {
        out += "nan";
        return;
    }
    char digits[32];
    const std::to_chars_result end =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6);
    out.append(digits, static_cast<std::size_t>(end.ptr - digits));
}

std::string formatListing(const Parameter& para, bool forTerminal)
{
    std::string out;
    out.reserve(8192);
    out += "\nparameters not shown are 0 \n\ninit parameters : ";
    for (unsigned int i = 0; i < Parameter::InitEntries; ++i) {
        const unsigned long value = para.getInitParameter(i);
        if (value != 0) {
            openEntry(out, i);
            appendInteger(out, value);
            closeEntry(out);
        }
    }

    out += "\n\noperations parameters : ";
    double sum = 0.0;
    for (unsigned int i = 0; i < Parameter::OperationsEntries; ++i) {
        const double value = para.getOperationsParameter(i);
        // NaN compares unequal to 0.0 and is listed; both zeros are left out.
        if (value != 0.0) {
            openEntry(out, i);
            appendRoundedReal(out, value);
            closeEntry(out);
            if (i >= 10) {
                sum += value;
            }
        }
    }
    out += "\nsum operations parameters > 10 : ";
    appendRoundedReal(out, sum);

    out += "\n\nterminal condition parameters : ";
    for (unsigned int i = 0; i < Parameter::TerminalConditionEntries; ++i) {
        const double value = para.getTerminalConditionParameter(i);
        if (value != 0.0) {
            openEntry(out, i);
            appendRoundedReal(out, value);
            closeEntry(out);
        }
    }

    out += "\n\ndocument parameters : ";
    for (unsigned int i = 0; i < Parameter::DocumentEntries; ++i) {
        if (para.getDocumentParameter(i)) {
            openEntry(out, i);
            out += '1';
            closeEntry(out);
        }
    }

    out += "\n\nnames parameters : \n";
    for (unsigned int i = 0; i < Parameter::NamesEntries; ++i) {
        const char* name = para.getNamesParameter(i);
        openEntry(out, i);
        appendShown(out, std::string_view(name, nameLength(name)), forTerminal);
        closeEntry(out);
    }
    out += "\n\n";
    return out;
}

int mode::listing(const Request& request)
{
    const char* file = request.operands[0];
    if (request.count > 1) {
        const auto option = std::find_if(request.operands + 1, request.operands + request.count, looksLikeOption);
        const std::string hint =
            option != request.operands + request.count
                ? std::string("'") + *option + "' is taken as a file: " + optionsGoFirst
                : std::string("the listing takes one file; see --help for the modes that take several");
        reportMessage(std::string("warning: only ") + file + " is listed; " + std::to_string(request.count - 1) +
                      " more operand" + (request.count > 2 ? "s" : "") + " ignored (" + hint + ")");
    }
    const bool terminal = isTerminal(STDOUT_FILENO);
    Parameter para;
    std::size_t length = 0;
    std::string out;
    int status = 0;
    if (loadShown(para, file, terminal, &length)) {
        if (length < Parameter::FileBytes) {
            reportError(file, "warning: the file holds " + std::to_string(length) + " of " +
                                  std::to_string(Parameter::FileBytes) +
                                  " bytes; entries past its end are listed at their start values");
        }
        out = formatListing(para, terminal);
    } else {
        reportErrno(file);
        out = "\ncould not read\n";
        status = 1;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return status;
}
