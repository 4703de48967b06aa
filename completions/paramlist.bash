# bash completion for paramlist                            -*- shell-script -*-
# Options until the first file or --, as paramlist reads them; then files,
# those with the suffix the place calls for first (.par, or .json for the
# input of --from-json and --apply, .toml for --schema; any file for the list
# of --files0-from).

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

_paramlist()
{
    local cur=${COMP_WORDS[COMP_CWORD]} option=""
    local words=("${COMP_WORDS[@]:0:COMP_CWORD}")
    COMPREPLY=()
    # bash splits --output=FILE into --output, = and FILE.
    if [[ $cur == = ]]; then
        option=${words[-1]}
        cur=""
    elif ((${#words[@]} >= 2)) && [[ ${words[-1]} == = ]]; then
        option=${words[-2]}
    fi

    # Whether options may still come: not after the first file, nor after --.
    local i=1 options=yes
    while ((i < ${#words[@]})); do
        case ${words[i]} in
        --) options=no; break ;;
        # The word after an = is the rest of the word before it, such as
        # the VALUE of --set ENTRY=VALUE.
        =) ((i++)) ;;
        -o | --output | --from-json | --apply | --set | --get | --path | --files0-from | --wait | --schema)
            [[ ${words[i + 1]-} == = ]] && ((i++))
            ((i++)) ;;
        -?*) ;;
        *) options=no; break ;;
        esac
        ((i++))
    done

    if [[ -z $option && $options == yes ]]; then
        case ${words[-1]} in
        -o | --output | --from-json | --apply | --set | --get | --path | --files0-from | --wait | --schema) option=${words[-1]} ;;
        esac
    fi
    case $option in
    -o | --output | --path)
        _paramlist_files "$cur" .par
        return ;;
    --from-json | --apply)
        _paramlist_files "$cur" .json
        return ;;
    --wait)
        # SECONDS: nothing to offer.
        return ;;
    --files0-from)
        _paramlist_files "$cur" ""
        return ;;
    --schema)
        _paramlist_files "$cur" .toml
        return ;;
    --set | --get)
        # ENTRY or ENTRY=VALUE: the tables whose entries are named Table[INDEX].
        compopt -o nospace 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -W 'Init[ TerminalCondition[ Operations[ Names[ Document[' -- "$cur")
        return ;;
    esac

    if [[ $options == yes && $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '--help -h --version -V --json --csv --tsv --from-json -o --output
            --force --wait --diff --brief -z --null -H --with-filename --check --set --create --dry-run -n --apply
            --edit --entries --get --merge --ours --theirs --path --files0-from --schema --no-schema --' -- "$cur")
        return
    fi
    _paramlist_files "$cur" .par
}
complete -F _paramlist paramlist
