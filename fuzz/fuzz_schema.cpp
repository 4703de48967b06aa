// libFuzzer target: any bytes, taken as a schema, are read; a schema is
// either used or refused with diagnostic lines "paramlist: s.toml:LINE:COLUMN:
// ...", each at a place the text has.
//
//   fuzz_schema -max_total_time=600 WORK_CORPUS fuzz/corpus-schema

#include "schema.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

static void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string problems;
    const std::optional<Schema> schema = parseSchema(text, "s.toml", problems);
    require(schema.has_value() == problems.empty());
    const auto lines = static_cast<unsigned long>(std::count(text.begin(), text.end(), '\n')) + 1;
    const std::string head = "paramlist: s.toml:";
    for (std::size_t at = 0; at < problems.size();) {
        const std::size_t end = problems.find('\n', at);
        require(end != std::string::npos && problems.compare(at, head.size(), head) == 0);
        char* rest = nullptr;
        const unsigned long line = std::strtoul(problems.c_str() + at + head.size(), &rest, 10);
        require(line >= 1 && line <= lines && *rest == ':');
        const unsigned long column = std::strtoul(rest + 1, &rest, 10);
        require(column >= 1 && *rest == ':');
        at = end + 1;
    }
    if (schema) {
        for (const EntryDescription& description : schema->described()) {
            require(schema->find(description.entry) == &description);
            require(description.name.empty() || schema->find(description.name) == &description);
            require(!description.min || !description.max || *description.min <= *description.max);
        }
    }
    return 0;
}
