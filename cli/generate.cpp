// The manual's synopsis and option tags, and the shell completions. Each shell
// offers an option only while it goes with every option already given, the
// modes as bits of a number (modeBit).
#include "generate.h"

#include "diagnostics.h"
#include "entry.h"
#include "standard_output.h"
#include "usage.h"

#include <cstring>
#include <numeric>

namespace {

const char synopsisStart[] = ".\\\" Made by paramlist --generate=man from its option table, as is the first\n"
                             ".\\\" line of each entry of OPTIONS: change the table, not these lines.\n";
const char synopsisEnd[] = ".\\\" End of what paramlist --generate=man makes of the synopsis.\n";

std::string man(Rows rows)
{
    // Each synopsis on lines of its own, the lines after its first indented,
    // broken between words only.
    std::string text = std::string(synopsisStart) + ".na\n.nh\n.in +4n\n";
    for (const Synopsis& line : synopses(rows)) {
        text += ".ti -4n\n" + roffText(line.pieces) + "\n";
    }
    text += ".ti -4n\n" + roffText(answersSynopsis(rows)) + "\n.in\n.hy\n.ad\n" + synopsisEnd;
    for (const Option& row : rows) {
        if (!row.hidden) {
            text += ".TP\n" + roffText(tagOf(rows, row)) + "\n";
        }
    }
    return text;
}

// Every mode, as bits.
unsigned everyMode(Rows rows)
{
    return std::accumulate(rows.begin(), rows.end(), 0U,
                           [](unsigned all, const Option& row) { return all | modesOf(row); });
}

// The option's words on a command line, as a shell's pattern: -o | --output.
std::string forms(const Option& row, const char* between)
{
    return (row.letter != '\0' ? shown(row) + between : "") + "--" + row.name;
}

// The names an entry starts with, each with its bracket, as a shell's words.
std::string entryStarts(const char* bracket, const char* quote)
{
    std::string text;
    for (const Table table : allTables) {
        text += (text.empty() ? "" : " ") + std::string(quote) + tableName(table) + bracket + quote;
    }
    return text;
}

const char* bashKind(Completes kind)
{
    switch (kind) {
    case Completes::AnyFile:
        return "file";
    case Completes::ParFile:
        return "par";
    case Completes::JsonInput:
        return "json";
    case Completes::TomlFile:
        return "toml";
    case Completes::EntryName:
        return "entry";
    case Completes::Seconds:
        return "seconds";
    case Completes::Nothing:
        break;
    }
    return "";
}

const char bashFiles[] = R"sh(# bash completion for paramlist                            -*- shell-script -*-
# Made by paramlist --generate=bash from its option table. Options until the
# first file or --, as paramlist reads them, each while it goes with every
# option given; then files, those with the suffix the place calls for first
# (.par, or .json for JSON input; any file for a list of files).

# Adds to COMPREPLY the files and directories that start with $1, those
# that end in $2 and the directories first, each group in name order.
_paramlist_files()
{
    local start=$1 suffix=$2 name
    local first=() rest=()
    compopt -o filenames -o nosort 2>/dev/null
    while IFS= read -r name; do
        if [[ $name == *"$suffix" || -d $name ]]; then
            first+=("$name")
        else
            rest+=("$name")
        fi
    done < <(compgen -f -- "$start" | LC_ALL=C sort)
    COMPREPLY+=("${first[@]}" "${rest[@]}")
}

# Sets what the option $1 is: the modes it goes with, a bit for each (none for
# one that ends the options, as --help does), its long form, whether it may be
# given again, and what its argument completes to ("" for no argument). Fails
# for a word that is no option.
_paramlist_option()
{
    case $1 in
)sh";

const char bashMain[] = R"sh(    *) return 1 ;;
    esac
}

_paramlist()
{
    local cur=${COMP_WORDS[COMP_CWORD]} option="" modes long again argument
    local words=("${COMP_WORDS[@]:0:COMP_CWORD}")
    COMPREPLY=()
    # bash splits --output=FILE into --output, = and FILE.
    if [[ $cur == = ]]; then
        option=${words[-1]}
        cur=""
    elif ((${#words[@]} >= 2)) && [[ ${words[-1]} == = ]]; then
        option=${words[-2]}
    fi

    # Whether options may still come: not after the first file, nor after --;
    # the modes that every option given goes with, and the options given.
    local i=1 options=yes left=$every given=" "
    while ((i < ${#words[@]})); do
        case ${words[i]} in
        --) options=no; break ;;
        # The word after an = is the rest of the word before it, such as
        # the VALUE of --set ENTRY=VALUE.
        =) ((i++)) ;;
        -?*)
            if _paramlist_option "${words[i]}"; then
                ((left &= modes))
                [[ $again == yes ]] || given+="$long "
                if [[ -n $argument ]]; then
                    [[ ${words[i + 1]-} == = ]] && ((i++))
                    ((i++))
                fi
            fi ;;
        *) options=no; break ;;
        esac
        ((i++))
    done

    if [[ -z $option && $options == yes ]] && _paramlist_option "${words[-1]}" && [[ -n $argument ]]; then
        option=${words[-1]}
    fi
    if [[ -n $option ]] && _paramlist_option "$option"; then
        case $argument in
        par) _paramlist_files "$cur" .par; return ;;
        json) _paramlist_files "$cur" .json; return ;;
        toml) _paramlist_files "$cur" .toml; return ;;
        file) _paramlist_files "$cur" ""; return ;;
        # ENTRY or ENTRY=VALUE: the tables whose entries are named Table[INDEX].
        entry)
            compopt -o nospace 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -W '$entries' -- "$cur")
            return ;;
        # SECONDS: nothing to offer.
        seconds) return ;;
        esac
    fi

    if [[ $options == yes && $cur == -* ]]; then
        local word offered=()
        for word in $words; do
            _paramlist_option "$word"
            if [[ $given != *" $long "* ]] && ((left == $every || (modes & left) != 0)); then
                offered+=("$word")
            fi
        done
        mapfile -t COMPREPLY < <(compgen -W "${offered[*]} --" -- "$cur")
        return
    fi
    _paramlist_files "$cur" .par
}
complete -F _paramlist paramlist
)sh";

// text with each $name replaced as given.
std::string filled(std::string text, const char* name, const std::string& value)
{
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) {
        text.replace(at, std::strlen(name), value);
    }
    return text;
}

std::string bash(Rows rows)
{
    std::string text = bashFiles;
    std::string all;
    for (const Option& row : rows) {
        if (!row.hidden) {
            text += "    " + forms(row, " | ") + ") modes=" + std::to_string(modesOf(row)) + " long=--" + row.name +
                    " again=" + (row.repeats ? "yes" : "no") + " argument=" + bashKind(row.completes) + " ;;\n";
            all += (all.empty() ? "" : " ") + forms(row, " ");
        }
    }
    const std::string main =
        filled(filled(bashMain, "$every", std::to_string(everyMode(rows))), "$entries", entryStarts("[", ""));
    return text + filled(main, "$words", all);
}

// text for a single-quoted shell word, with escaped as a backslash escapes them.
std::string quoted(const std::string& text, const char* escaped)
{
    std::string out;
    for (const char c : text) {
        out += c == '\'' ? "'\\''" : std::strchr(escaped, c) != nullptr ? std::string{'\\', c} : std::string(1, c);
    }
    return out;
}

std::string zshAction(const Option& row)
{
    std::string message = ":" + quoted(row.argument != nullptr ? row.argument : "", ":") + ":";
    switch (row.completes) {
    case Completes::AnyFile:
        return message + "_files";
    case Completes::ParFile:
        return message + "_files -g \"*.par(-.)\"";
    case Completes::JsonInput:
        return message + "_files -g \"*.json(-.)\"";
    case Completes::TomlFile:
        return message + "_files -g \"*.toml(-.)\"";
    case Completes::EntryName:
        return message + "{compadd -S \"\" -- " + entryStarts("[", "\"") + "}";
    case Completes::Seconds:
        return message;
    case Completes::Nothing:
        break;
    }
    return "";
}

// The options that cannot follow row: those that go with none of its modes,
// and its alternatives.
std::string zshExcluded(Rows rows, const Option& row)
{
    if (modesOf(row) == 0) {
        return "(- *)";
    }
    std::string excluded;
    for (const Option& other : rows) {
        const bool rivals = (row.rival != nullptr && std::strcmp(row.rival, other.name) == 0) ||
                            (other.rival != nullptr && std::strcmp(other.rival, row.name) == 0) ||
                            (row.side != Request::Neither && other.side != Request::Neither);
        if (!other.hidden && (&other == &row ? row.letter != '\0' : rivals || (modesOf(other) & modesOf(row)) == 0)) {
            excluded += (excluded.empty() ? "" : " ") + forms(other, " ");
        }
    }
    return "(" + excluded + ")";
}

std::string zsh(Rows rows)
{
    std::string text = "#compdef paramlist\n"
                       "# zsh completion for paramlist, made by paramlist --generate=zsh from its option\n"
                       "# table: options until the first file or --, as paramlist reads them, each while\n"
                       "# it goes with every option given; then files, .par files first.\n\n"
                       "_arguments -s -S -A '-*' \\\n";
    for (const Option& row : rows) {
        if (row.hidden) {
            continue;
        }
        const char* takes = row.argument != nullptr ? "=" : "";
        const std::string name = "--" + std::string(row.name) + takes;
        const std::string words =
            row.letter != '\0' ? "{" + shown(row) + (row.argument != nullptr ? "+," : ",") + name + "}'" : name;
        text += "  '" + zshExcluded(rows, row) + (row.repeats ? "*" : "") + (row.letter != '\0' ? "'" : "") + words +
                "[" + quoted(row.summary, "[]:\\") + "]" + quoted(zshAction(row), "") + "' \\\n";
    }
    return text + "  '*:parameter file:_files -g \"*.par(-.)\"'\n";
}

std::string fish(Rows rows)
{
    std::string text = R"sh(# fish completion for paramlist, made by paramlist --generate=fish from its
# option table. Options until the first file or --, as paramlist reads them,
# each while it goes with every option given; then files, .par files first.

# What the option $argv[1] is: the modes it goes with, a bit for each (none
# for one that ends the options, as --help does), whether it takes an
# argument (1) or not (0), its long form, and whether it may be given again.
# Fails for a word that is no option.
function __paramlist_option
    switch $argv[1]
)sh";
    for (const Option& row : rows) {
        if (!row.hidden) {
            text += "        case " + forms(row, " ") + "\n            echo " + std::to_string(modesOf(row)) +
                    (row.argument != nullptr ? " 1 --" : " 0 --") + row.name + (row.repeats ? " yes\n" : " no\n");
        }
    }
    const std::string every = std::to_string(everyMode(rows));
    text += R"sh(        case '*'
            return 1
    end
end

# Whether the option $argv[2], of the modes $argv[1], may come next.
function __paramlist_offers
    set -l left )sh" +
            every + R"sh(
    set -l skip 0
    for word in (commandline -opc)[2..-1]
        if test $skip = 1
            set skip 0
        else if test "$word" = --; or not string match -q -- '-?*' $word
            return 1
        else if set -l row (__paramlist_option (string split -m 1 = -- $word)[1])
            set row (string split ' ' -- $row)
            set left (math "bitand($left, $row[1])")
            if test $row[3] = $argv[2]; and test $row[4] = no
                return 1
            end
            if test $row[2] = 1; and not string match -q -- '*=*' $word
                set skip 1
            end
        end
    end
    test $left = )sh" +
            every + R"sh(; or test (math "bitand($left, $argv[1])") != 0
end

complete -c paramlist -f
complete -c paramlist -k -a '(__fish_complete_suffix .par)'
)sh";
    for (const Option& row : rows) {
        if (row.hidden) {
            continue;
        }
        text += "complete -c paramlist";
        if (row.letter != '\0') {
            text += std::string(" -s ") + row.letter;
        }
        text += " -l " + std::string(row.name) + " -n '__paramlist_offers " + std::to_string(modesOf(row)) + " --" +
                row.name + "'";
        const std::string named = quoted(row.argument != nullptr ? row.argument : "", "\"$\\");
        switch (row.completes) {
        case Completes::AnyFile:
            text += " -r -F";
            break;
        case Completes::ParFile:
        case Completes::JsonInput:
        case Completes::TomlFile:
            text += std::string(" -x -k -a '(__fish_complete_suffix (commandline -ct) ") +
                    (row.completes == Completes::ParFile    ? ".par"
                     : row.completes == Completes::TomlFile ? ".toml"
                                                            : ".json") +
                    " \"" + named + "\")'";
            break;
        case Completes::EntryName:
            text += " -x -a '" + entryStarts("\\[", "") + "'";
            break;
        case Completes::Seconds:
            text += " -x";
            break;
        case Completes::Nothing:
            break;
        }
        text += " -d '" + quoted(row.summary, "\\") + "'\n";
    }
    return text;
}

} // namespace

std::string generatedText(Rows rows, const std::string& format)
{
    return format == "man"    ? man(rows)
           : format == "bash" ? bash(rows)
           : format == "zsh"  ? zsh(rows)
           : format == "fish" ? fish(rows)
                              : "";
}

int generated(Rows rows, const char* format)
{
    const std::string text = generatedText(rows, format);
    if (text.empty()) {
        return usageError(std::string("--generate='") + format + "': give man, bash, zsh or fish");
    }
    return finishStandardOutput(text) ? 0 : 1;
}
