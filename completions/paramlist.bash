# bash completion for paramlist                            -*- shell-script -*-
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
    --json) modes=10298 long=--json again=no argument= ;;
    --csv) modes=256 long=--csv again=no argument= ;;
    --tsv) modes=512 long=--tsv again=no argument= ;;
    --from-json) modes=4 long=--from-json again=no argument=json ;;
    --diff) modes=8 long=--diff again=no argument= ;;
    --brief) modes=8 long=--brief again=no argument= ;;
    --check) modes=16 long=--check again=no argument= ;;
    --summary) modes=8192 long=--summary again=no argument= ;;
    --html) modes=8192 long=--html again=no argument= ;;
    --init-schema) modes=16384 long=--init-schema again=no argument= ;;
    --set) modes=32 long=--set again=yes argument=entry ;;
    --create) modes=4128 long=--create again=no argument= ;;
    --apply) modes=2048 long=--apply again=no argument=json ;;
    --edit) modes=4096 long=--edit again=no argument= ;;
    -n | --dry-run) modes=2080 long=--dry-run again=no argument= ;;
    --entries) modes=64 long=--entries again=no argument= ;;
    --get) modes=1024 long=--get again=yes argument=entry ;;
    --merge) modes=128 long=--merge again=no argument= ;;
    -o | --output) modes=4 long=--output again=no argument=par ;;
    --ours) modes=128 long=--ours again=no argument= ;;
    --theirs) modes=128 long=--theirs again=no argument= ;;
    --path) modes=128 long=--path again=no argument=par ;;
    --files0-from) modes=26490 long=--files0-from again=no argument=file ;;
    -z | --null) modes=8 long=--null again=no argument= ;;
    -H | --with-filename) modes=1096 long=--with-filename again=no argument= ;;
    -r | --raw) modes=1024 long=--raw again=no argument= ;;
    --force) modes=32750 long=--force again=no argument= ;;
    --wait) modes=6308 long=--wait again=no argument=seconds ;;
    --schema) modes=16248 long=--schema again=no argument=toml ;;
    --no-schema) modes=16248 long=--no-schema again=no argument= ;;
    -h | --help) modes=0 long=--help again=no argument= ;;
    -V | --version) modes=0 long=--version again=no argument= ;;
    *) return 1 ;;
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
    local i=1 options=yes left=32766 given=" "
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
            mapfile -t COMPREPLY < <(compgen -W 'Init[ TerminalCondition[ Operations[ Names[ Document[' -- "$cur")
            return ;;
        # SECONDS: nothing to offer.
        seconds) return ;;
        esac
    fi

    if [[ $options == yes && $cur == -* ]]; then
        local word offered=()
        for word in --json --csv --tsv --from-json --diff --brief --check --summary --html --init-schema --set --create --apply --edit -n --dry-run --entries --get --merge -o --output --ours --theirs --path --files0-from -z --null -H --with-filename -r --raw --force --wait --schema --no-schema -h --help -V --version; do
            _paramlist_option "$word"
            if [[ $given != *" $long "* ]] && ((left == 32766 || (modes & left) != 0)); then
                offered+=("$word")
            fi
        done
        mapfile -t COMPREPLY < <(compgen -W "${offered[*]} --" -- "$cur")
        return
    fi
    _paramlist_files "$cur" .par
}
complete -F _paramlist paramlist
