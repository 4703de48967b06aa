// libFuzzer target: any bytes, taken as the input of --from-json, go through
// the JSON reader. It must fail with a place and a reason, or give a record
// whose own JSON reads back to the same record.
//
//   fuzz_from_json -max_total_time=600 WORK_CORPUS fuzz/corpus-json

#include "Parameter.h"
#include "entry.h"
#include "json_record.h"
#include "modes.h"
#include "record_text.h"

#include <cstdint>
#include <cstdlib>
#include <string>

static void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

static bool sameRecord(const Parameter& a, const Parameter& b)
{
    for (const Table table : allTables) {
        for (unsigned int i = 0; i < tableEntries(table); ++i) {
            if (!sameEntry(a, b, table, i)) {
                return false;
            }
        }
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    Parameter para;
    std::string problem;
    if (!parseRecord(text, para, problem)) {
        // "LINE:COLUMN: reason", the place within the input.
        const std::size_t colon = problem.find(':');
        const std::size_t second = problem.find(": ", colon + 1);
        require(colon != std::string::npos && colon > 0 && second != std::string::npos);
        require(second + 2 < problem.size());
        return 0;
    }
    std::string json;
    appendRecordJson(json, "fuzz", Parameter::FileBytes, para);
    require(json.find('\n') == json.size() - 1);
    Parameter back;
    require(parseRecord(json, back, problem));
    require(sameRecord(para, back));
    return 0;
}
