#include "file_names.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include <unistd.h>

namespace {

// A list is read in blocks of this many bytes: a few hundred names at once.
constexpr std::size_t listBlock = 64 * 1024;

} // namespace

FileNames::FileNames(char* const* operands, int count) : operands(operands), remaining(count)
{
}

FileNames::FileNames(const char* list) : listPath(list), buffer(listBlock)
{
    this->list.emplace(list);
}

bool FileNames::readName(std::string& to)
{
    const std::size_t start = to.size();
    for (;;) {
        const char* const first = buffer.data() + begin;
        const char* const last = buffer.data() + end;
        const char* const zero = std::find(first, last, '\0');
        to.append(first, zero);
        if (zero != last) {
            begin = static_cast<std::size_t>(zero + 1 - buffer.data());
            return true;
        }
        begin = end = 0;
        if (listEnded) {
            return to.size() > start;
        }
        const ssize_t got = ::read(list->fd(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            listEnded = true;
            // A read error ends the list: what came before it is no whole name.
            if (got < 0) {
                to.resize(start);
                return false;
            }
            continue;
        }
        end = static_cast<std::size_t>(got);
    }
}

bool FileNames::next(std::size_t most, NameBatch& batch)
{
    batch.names.clear();
    batch.refusals.clear();
    batch.bytes.clear();
    if (!list) {
        const int taken = static_cast<int>(std::min<std::size_t>(most, static_cast<std::size_t>(remaining)));
        batch.names.assign(operands, operands + taken);
        operands += taken;
        remaining -= taken;
        return taken > 0;
    }
    // Where each name starts in bytes, or npos for one refused: the
    // pointers are made once bytes has stopped growing.
    std::vector<std::size_t> starts;
    const bool fromStandardInput = isStandardInput(listPath);
    while (starts.size() < most && list->fd() >= 0) {
        const std::size_t start = batch.bytes.size();
        if (!readName(batch.bytes)) {
            if (error != 0) {
                batch.refusals.push_back(diagnostic(std::string(listPath) + ": " + std::strerror(error)));
                starts.push_back(std::string::npos);
                error = 0;
            }
            break;
        }
        ++number;
        const std::string_view name(batch.bytes.data() + start, batch.bytes.size() - start);
        const char* refusal = name.empty() ? "invalid zero-length file name"
                              : fromStandardInput && name == "-"
                                  ? "when reading file names from standard input, no file name of '-' allowed"
                                  : nullptr;
        if (refusal != nullptr) {
            batch.refusals.push_back(diagnostic(std::string(listPath) + ":" + std::to_string(number) + ": " + refusal));
            batch.bytes.resize(start);
            starts.push_back(std::string::npos);
            continue;
        }
        batch.bytes += '\0';
        starts.push_back(start);
    }
    for (const std::size_t start : starts) {
        batch.names.push_back(start == std::string::npos ? nullptr : &batch.bytes[start]);
    }
    return !starts.empty();
}
