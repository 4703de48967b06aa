// What --check finds unsound in a file read as every mode reads it
// (readContents), each finding handed to what reports it, --check's lines or
// the summary's page.
#ifndef PARAMLIST_FINDINGS_H
#define PARAMLIST_FINDINGS_H

#include "Parameter.h"
#include "entry.h"
#include "input_files.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What is told each finding of a file.
class FindingSink
{
public:
    FindingSink() = default;
    FindingSink(const FindingSink&) = delete;
    FindingSink& operator=(const FindingSink&) = delete;
    virtual ~FindingSink() = default;

    // A finding at offset, of kind (a name in the manual's list): its message
    // is the name of entry, when it is about one, followed by text. The
    // message is the program's own words and entry names, which no escape
    // needs.
    virtual void found(std::size_t offset, std::string_view kind, const Entry* entry, std::string_view text) = 0;
};

// Tells sink every finding of contents, in offset order.
void checkContents(const FileContents& contents, FindingSink& sink);

// The findings of a fleet as the summary's page shows them: the first
// firstFindings in full, and how many there are of each kind.
class FindingDigest : public FindingSink
{
public:
    static constexpr std::size_t firstFindings = 200;
    struct Finding {
        std::string path;
        std::size_t offset;
        std::string kind;
        std::string message;
    };

    // The file that the findings told next are about; it must outlive them.
    void about(const char* path) { current = path; }
    void found(std::size_t offset, std::string_view kind, const Entry* entry, std::string_view text) override;

    const std::vector<Finding>& first() const { return listed; }
    // Each kind with its count, in the order the kinds were first found.
    const std::vector<std::pair<std::string, std::size_t>>& kinds() const { return counts; }
    std::size_t total() const { return all; }

private:
    const char* current = "";
    std::vector<Finding> listed;
    std::vector<std::pair<std::string, std::size_t>> counts;
    std::size_t all = 0;
};

#endif
