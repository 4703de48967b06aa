// paramlist FILE: print the parameter listing of a parameter file.
//
// Standard output carries the listing and nothing else; diagnostics go to
// standard error as "paramlist: PATH: reason". Exit status: 0 when the listing
// was printed, 1 when the file could not be read or the listing could not be
// written, 2 when no file was named.
//
// Compiled with PARAMLIST_NO_MAIN, this file provides the listing alone, for
// programs that run it in-process.

#include "Parameter.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

// Appends value in plain decimal.
static void appendInteger(std::string& out, unsigned long value)
{
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, end.ptr);
}

// Appends value as printf's %g would in the C locale: 6 significant digits,
// ties to even, no trailing zeros; "inf" and "-inf" for the infinities. Every
// NaN prints as "nan": the sign of a NaN that arithmetic produces differs
// between processors, and the listing must not.
static void appendReal(std::string& out, double value)
{
    if (std::isnan(value)) {
        out += "nan";
        return;
    }
    char digits[32];
    const std::to_chars_result end =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6);
    out.append(digits, end.ptr);
}

// Appends "(" index ":" and leaves the entry open for its value.
static void openEntry(std::string& out, unsigned int i)
{
    out += '(';
    appendInteger(out, i);
    out += ':';
}

static void closeEntry(std::string& out)
{
    out += ") ";
}

// The listing that follows the "reading from file" line: every non-zero number
// and set flag, the sum of the operations entries from index 10 on, all names.
std::string formatListing(const Parameter& para)
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
            appendReal(out, value);
            closeEntry(out);
            if (i >= 10) {
                sum += value;
            }
        }
    }
    out += "\nsum operations parameters > 10 : ";
    appendReal(out, sum);

    out += "\n\nterminal condition parameters : ";
    for (unsigned int i = 0; i < Parameter::TerminalConditionEntries; ++i) {
        const double value = para.getTerminalConditionParameter(i);
        if (value != 0.0) {
            openEntry(out, i);
            appendReal(out, value);
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
        out.append(name, strnlen(name, Parameter::NameBytes));
        closeEntry(out);
    }
    out += "\n\n";
    return out;
}

#ifndef PARAMLIST_NO_MAIN

// Flushes and closes standard output, reporting what went wrong: a full disk or
// a closed descriptor shows up only when the buffered listing is written.
static bool closeStandardOutput()
{
    const bool failedEarlier = std::ferror(stdout) != 0;
    if (std::fclose(stdout) != 0 || failedEarlier) {
        std::fprintf(stderr, "paramlist: write error: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs("Usage: paramlist FILE\n", stderr);
        return 2;
    }
    const char* file = argv[1];
    Parameter para;
    std::size_t length = 0;
    int status = 0;
    if (para.load(file, &length)) {
        if (length < Parameter::FileBytes) {
            std::fprintf(stderr,
                         "paramlist: %s: warning: the file holds %zu of %zu bytes; "
                         "entries past its end are listed at their start values\n",
                         file, length, Parameter::FileBytes);
        }
        const std::string listing = formatListing(para);
        std::fwrite(listing.data(), 1, listing.size(), stdout);
    } else {
        std::fprintf(stderr, "paramlist: %s: %s\n", file, std::strerror(errno));
        std::fputs("\ncould not read\n", stdout);
        status = 1;
    }
    return closeStandardOutput() ? status : 1;
}

#endif
