// libFuzzer target: any bytes, taken as a parameter file, go through the
// loader, every accessor in and past range, a copy, the complete listing, and
// the JSON form there and back.
//
//   fuzz_listing -max_total_time=600 WORK_CORPUS fuzz/corpus

#include "Parameter.h"
#include "entry.h"
#include "json_record.h"
#include "listing.h"
#include "modes.h"
#include "record_text.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>

// The loader takes a path, so each input is put in an in-memory file.
static int inputFile()
{
    static const int fd = memfd_create("parameter-file", MFD_CLOEXEC);
    return fd;
}

static void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// The little-endian number of width bytes at offset, as far as the input has them.
static std::uint64_t fileNumber(const std::uint8_t* data, std::size_t size, std::size_t offset, unsigned width)
{
    std::uint64_t value = 0;
    for (unsigned byte = 0; byte < width && offset + byte < size; ++byte) {
        value |= static_cast<std::uint64_t>(data[offset + byte]) << (8 * byte);
    }
    return value;
}

static std::uint64_t bits(double value)
{
    std::uint64_t pattern;
    std::memcpy(&pattern, &value, sizeof pattern);
    return pattern;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The loader announces every file it reads; that is noise here.
    require(std::freopen("/dev/null", "w", stdout) != nullptr);
    require(inputFile() >= 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const int fd = inputFile();
    require(ftruncate(fd, 0) == 0);
    require(size == 0 || pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    Parameter para;
    std::size_t length = 0;
    require(para.load(path.c_str(), &length));
    require(length == std::min(size, Parameter::FileBytes));

    for (std::size_t i = 0; i < Parameter::InitEntries; ++i) {
        require(para.getInitParameter(i) == fileNumber(data, size, Parameter::InitOffset + 4 * i, 4));
    }
    for (std::size_t i = 0; i < Parameter::TerminalConditionEntries; ++i) {
        const std::size_t offset = Parameter::TerminalConditionOffset + 8 * i;
        require(bits(para.getTerminalConditionParameter(i)) == fileNumber(data, size, offset, 8));
    }
    for (std::size_t i = 0; i < Parameter::OperationsEntries; ++i) {
        const std::size_t offset = Parameter::OperationsOffset + 8 * i;
        require(bits(para.getOperationsParameter(i)) == fileNumber(data, size, offset, 8));
    }
    for (unsigned i = 0; i < Parameter::NamesEntries; ++i) {
        require(std::strlen(para.getNamesParameter(i)) <= Parameter::NameBytes);
    }
    for (unsigned i = 0; i < Parameter::DocumentEntries; ++i) {
        const std::size_t offset = Parameter::DocumentOffset + i;
        require(para.getDocumentParameter(i) == (offset < size && data[offset] != 0));
    }
    for (const unsigned past : {50u, 100u, UINT_MAX}) {
        require(para.getInitParameter(past) == 0);
        require(para.getTerminalConditionParameter(past) == 0.0);
        require(para.getNamesParameter(past)[0] == '\0');
        require(!para.getDocumentParameter(past));
    }
    require(para.getOperationsParameter(100) == 0.0 && para.getOperationsParameter(UINT_MAX) == 0.0);

    const std::string listing = formatListing(para);
    require(listing.compare(0, 29, "\nparameters not shown are 0 \n") == 0);
    require(listing.size() >= 4 && listing.compare(listing.size() - 4, 4, ") \n\n") == 0);
    const Parameter copy(para);
    require(formatListing(copy) == listing);

    // The JSON form of any record reads back to the same record.
    std::string json;
    appendRecordJson(json, path.c_str(), length, para);
    Parameter back;
    std::string problem;
    require(parseRecord(json, back, problem));
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i) {
            require(sameEntry(para, back, table, i));
        }
    }
    return 0;
}
