// paramlist: print the parameter listing of a parameter file, and the modes
// that work with many files: --json and --from-json, --diff, --check.
//
// Standard output carries the listing or the mode's output and nothing else;
// diagnostics go to standard error as "paramlist: PATH: reason". Exit status
// of the listing: 0 when it was printed, 1 when the file could not be read or
// the listing could not be written, 2 for a usage error.
//
// Compiled with PARAMLIST_NO_MAIN, this file provides the listing alone, for
// programs that run it in-process.

#include "Parameter.h"
#include "format.h"

#include <string>

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
// For a terminal, names are shown escaped so that they cannot drive it.
std::string formatListing(const Parameter& para, bool forTerminal = false)
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
        if (forTerminal) {
            appendVisible(out, name, nameLength(name));
        } else {
            out.append(name, nameLength(name));
        }
        closeEntry(out);
    }
    out += "\n\n";
    return out;
}

#ifndef PARAMLIST_NO_MAIN

#include "io.h"
#include "modes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <getopt.h>
#include <unistd.h>

static const char usage[] = R"(Usage: paramlist [OPTION]... FILE...
Show what a parameter file (the 3950-byte image of one parameter set) holds.

  paramlist FILE               list the non-zero entries, set flags and names
  paramlist --json FILE...     one JSON object per file, one per line, lossless
  paramlist --from-json INPUT -o OUTPUT
                               write the image that a JSON object describes
  paramlist --diff [--json] A B
                               the entries whose values differ
  paramlist --check FILE...    what is unsound in each file

  -o, --output=OUTPUT  the file --from-json writes (- for standard output)
      --help           show this help and exit
      --version        show the version and exit

A FILE or INPUT of - is standard input. Options come before the first FILE;
-- ends them. Exit status: 0 on success; 1 when a file cannot be read, and for
--diff and --check when the files differ or a finding was printed; 2 for a
usage error, and for --diff and --check when a file cannot be read.
See paramlist(1).
)";

// The lines load prints, with the path shown escaped on a terminal, and "-"
// read as standard input.
static bool loadShown(Parameter& para, const char* file, bool terminal, std::size_t* length)
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
    if (terminal) {
        appendVisible(line, file, std::strlen(file));
    } else {
        line += file;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    return para.readFrom(input.fd(), length);
}

// paramlist FILE: the listing, with the failure lines when the file cannot be read.
static int listFile(char* const* files, int count)
{
    const char* file = files[0];
    if (count > 1) {
        reportMessage(std::string("warning: only ") + file + " is listed; " + std::to_string(count - 1) +
                      " more operand" + (count > 2 ? "s" : "") + " ignored (--json takes several files)");
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
    return finishStandardOutput(out) ? status : 1;
}

// What the command line asks for.
struct Request {
    enum Mode { Listing, Json, FromJson, Diff, Check } mode = Listing;
    bool json = false;
    const char* input = nullptr;
    const char* output = nullptr;
    char* const* operands = nullptr;
    int count = 0;
};

// The usage error for the option getopt_long has just refused.
static int refusedOption(char** argv)
{
    const char* word = argv[optind - 1];
    if (optopt == 'o') {
        return usageError("option requires an argument -- 'o'");
    }
    if (std::strncmp(word, "--", 2) != 0) {
        return usageError(std::string("invalid option -- '") + static_cast<char>(optopt) + "'");
    }
    const std::string name(word, std::strcspn(word, "="));
    if (optopt == 0) {
        return usageError("unrecognized option '" + name + "'");
    }
    return usageError("option '" + name +
                      (word[name.size()] == '=' ? "' doesn't allow an argument" : "' requires an argument"));
}

// Reads the options, which come before the first operand, into request.
// Returns -1 to go on, or the exit status when there is nothing more to do:
// after --help or --version, or a usage error.
static int parseCommandLine(int argc, char** argv, Request& request)
{
    static const option options[] = {
        {"help", no_argument, nullptr, 'h'},         {"version", no_argument, nullptr, 'V'},
        {"json", no_argument, nullptr, 'j'},         {"from-json", required_argument, nullptr, 'f'},
        {"output", required_argument, nullptr, 'o'}, {"diff", no_argument, nullptr, 'd'},
        {"check", no_argument, nullptr, 'c'},        {nullptr, 0, nullptr, 0}};
    opterr = 0;
    for (int option; (option = getopt_long(argc, argv, "+o:", options, nullptr)) != -1;) {
        Request::Mode chosen = request.mode;
        switch (option) {
        case 'h':
            std::fputs(usage, stdout);
            return finishStandardOutput("") ? 0 : 1;
        case 'V':
            return finishStandardOutput("paramlist " PARAMLIST_VERSION "\n") ? 0 : 1;
        case 'j':
            request.json = true;
            break;
        case 'f':
            chosen = Request::FromJson;
            request.input = optarg;
            break;
        case 'o':
            request.output = optarg;
            break;
        case 'd':
            chosen = Request::Diff;
            break;
        case 'c':
            chosen = Request::Check;
            break;
        default:
            return refusedOption(argv);
        }
        if (chosen != request.mode && request.mode != Request::Listing) {
            return usageError("choose one of --from-json, --diff and --check");
        }
        request.mode = chosen;
    }
    request.operands = argv + optind;
    request.count = argc - optind;
    if (request.json && request.mode == Request::Listing) {
        request.mode = Request::Json;
    } else if (request.json && request.mode != Request::Diff) {
        return usageError("--json goes alone or with --diff");
    }
    if (request.output != nullptr && request.mode != Request::FromJson) {
        return usageError("-o goes with --from-json");
    }
    return -1;
}

// Writes what a mode left in out and closes standard output; a failed write
// turns the mode's status into writeFailedStatus.
static int finish(int status, const std::string& out, int writeFailedStatus)
{
    return finishStandardOutput(out) ? status : writeFailedStatus;
}

int main(int argc, char** argv)
{
    Request request;
    const int parsed = parseCommandLine(argc, argv, request);
    if (parsed >= 0) {
        return parsed;
    }
    char* const* operands = request.operands;
    const int count = request.count;
    std::string out;
    switch (request.mode) {
    case Request::Listing:
        return count < 1 ? usageError("missing operand") : listFile(operands, count);
    case Request::Json:
        return count < 1 ? usageError("missing operand after '--json'") : finish(exportJson(operands, count), out, 1);
    case Request::FromJson:
        if (request.output == nullptr) {
            return usageError("--from-json needs -o OUTPUT");
        }
        return count > 0 ? usageError(std::string("extra operand '") + operands[0] + "'")
                         : finish(importJson(request.input, request.output), out, 1);
    case Request::Diff:
        if (count != 2) {
            return usageError(count < 2 ? "--diff needs two files"
                                        : std::string("extra operand '") + operands[2] + "'");
        }
        return finish(diffFiles(operands[0], operands[1], request.json, out), out, troubleStatus);
    case Request::Check:
        return count < 1 ? usageError("missing operand after '--check'")
                         : finish(checkFiles(operands, count), out, troubleStatus);
    }
    return usageStatus;
}

#endif
