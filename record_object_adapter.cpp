// Until from_json's reader takes objects without every table: each object is
// one line, read as --from-json reads a whole input.
#include "modes.h"
#include "record_object.h"

#include <nlohmann/json.hpp>

bool parseRecordObject(const std::string& text, std::size_t& at, RecordObject& object, std::size_t& problemAt,
                       std::string& problem)
{
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    std::string located;
    if (!parseRecord(line, object.record, located)) {
        const std::size_t colon = located.find(':');
        const std::size_t second = located.find(':', colon + 1);
        problemAt = at + std::stoul(located.substr(colon + 1, second - colon - 1)) - 1;
        problem = located.substr(second + 2);
        return false;
    }
    const nlohmann::json parsed = nlohmann::json::parse(line);
    object.named = parsed.contains("file");
    object.file = object.named ? parsed["file"].get<std::string>() : std::string();
    object.tables.fill(true);
    at = end;
    return true;
}
