# fish completion for paramlist, made by paramlist --generate=fish from its
# option table. Options until the first file or --, as paramlist reads them,
# each while it goes with every option given; then files, .par files first.

# What the option $argv[1] is: the modes it goes with, a bit for each (none
# for one that ends the options, as --help does), whether it takes an
# argument (1) or not (0), its long form, and whether it may be given again.
# Fails for a word that is no option.
function __paramlist_option
    switch $argv[1]
        case --json
            echo 10298 0 --json no
        case --csv
            echo 256 0 --csv no
        case --tsv
            echo 512 0 --tsv no
        case --from-json
            echo 4 1 --from-json no
        case --diff
            echo 8 0 --diff no
        case --brief
            echo 8 0 --brief no
        case --check
            echo 16 0 --check no
        case --summary
            echo 8192 0 --summary no
        case --html
            echo 8192 0 --html no
        case --init-schema
            echo 16384 0 --init-schema no
        case --set
            echo 32 1 --set yes
        case --create
            echo 4128 0 --create no
        case --apply
            echo 2048 1 --apply no
        case --edit
            echo 4096 0 --edit no
        case -n --dry-run
            echo 2080 0 --dry-run no
        case --entries
            echo 64 0 --entries no
        case --get
            echo 1024 1 --get yes
        case --merge
            echo 128 0 --merge no
        case -o --output
            echo 4 1 --output no
        case --ours
            echo 128 0 --ours no
        case --theirs
            echo 128 0 --theirs no
        case --path
            echo 128 1 --path no
        case --files0-from
            echo 26490 1 --files0-from no
        case -z --null
            echo 8 0 --null no
        case -H --with-filename
            echo 1096 0 --with-filename no
        case -r --raw
            echo 1024 0 --raw no
        case --force
            echo 32750 0 --force no
        case --wait
            echo 6308 1 --wait no
        case --schema
            echo 16248 1 --schema no
        case --no-schema
            echo 16248 0 --no-schema no
        case -h --help
            echo 0 0 --help no
        case -V --version
            echo 0 0 --version no
        case '*'
            return 1
    end
end

# Whether the option $argv[2], of the modes $argv[1], may come next.
function __paramlist_offers
    set -l left 32766
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
    test $left = 32766; or test (math "bitand($left, $argv[1])") != 0
end

complete -c paramlist -f
complete -c paramlist -k -a '(__fish_complete_suffix .par)'
complete -c paramlist -l json -n '__paramlist_offers 10298 --json' -d 'one JSON object per file, one per line, lossless'
complete -c paramlist -l csv -n '__paramlist_offers 256 --csv' -d 'a row per file after a header, for spreadsheets'
complete -c paramlist -l tsv -n '__paramlist_offers 512 --tsv' -d 'the same as --csv, fields separated by tabs'
complete -c paramlist -l from-json -n '__paramlist_offers 4 --from-json' -x -k -a '(__fish_complete_suffix (commandline -ct) .json "INPUT")' -d 'write the image that a JSON object describes'
complete -c paramlist -l diff -n '__paramlist_offers 8 --diff' -d 'the entries whose values differ from REFERENCE'
complete -c paramlist -l brief -n '__paramlist_offers 8 --brief' -d 'only the paths of the files that differ'
complete -c paramlist -l check -n '__paramlist_offers 16 --check' -d 'what is unsound in each file'
complete -c paramlist -l summary -n '__paramlist_offers 8192 --summary' -d 'the entries that vary across the files, and how'
complete -c paramlist -l html -n '__paramlist_offers 8192 --html' -d 'the summary as an HTML page: a heat map, bars, findings'
complete -c paramlist -l init-schema -n '__paramlist_offers 16384 --init-schema' -d 'a schema to start from, with the limits the files hold'
complete -c paramlist -l set -n '__paramlist_offers 32 --set' -x -a 'Init\[ TerminalCondition\[ Operations\[ Names\[ Document\[' -d 'change entries in place, nothing else'
complete -c paramlist -l create -n '__paramlist_offers 4128 --create' -d 'create a missing FILE from the start image'
complete -c paramlist -l apply -n '__paramlist_offers 2048 --apply' -x -k -a '(__fish_complete_suffix (commandline -ct) .json "INPUT")' -d 'set the entries whose values INPUT changes'
complete -c paramlist -l edit -n '__paramlist_offers 4096 --edit' -d 'change entries in your editor'
complete -c paramlist -s n -l dry-run -n '__paramlist_offers 2080 --dry-run' -d 'show what would change; write nothing'
complete -c paramlist -l entries -n '__paramlist_offers 64 --entries' -d 'every entry on a line of its own, for text diffs'
complete -c paramlist -l get -n '__paramlist_offers 1024 --get' -x -a 'Init\[ TerminalCondition\[ Operations\[ Names\[ Document\[' -d 'the value of each entry, as --json writes it'
complete -c paramlist -l merge -n '__paramlist_offers 128 --merge' -d 'merge the changes of THEIRS into OURS'
complete -c paramlist -s o -l output -n '__paramlist_offers 4 --output' -x -k -a '(__fish_complete_suffix (commandline -ct) .par "OUTPUT")' -d 'the file to write (- for standard output)'
complete -c paramlist -l ours -n '__paramlist_offers 128 --ours' -d 'resolve every conflict as OURS has it'
complete -c paramlist -l theirs -n '__paramlist_offers 128 --theirs' -d 'resolve every conflict as THEIRS has it'
complete -c paramlist -l path -n '__paramlist_offers 128 --path' -x -k -a '(__fish_complete_suffix (commandline -ct) .par "PATH")' -d 'the name that conflicts are reported under'
complete -c paramlist -l files0-from -n '__paramlist_offers 26490 --files0-from' -r -F -d 'read the FILEs from F, each name ended by a zero byte'
complete -c paramlist -s z -l null -n '__paramlist_offers 8 --null' -d 'end each path with a zero byte'
complete -c paramlist -s H -l with-filename -n '__paramlist_offers 1096 --with-filename' -d 'begin every line with FILE: even for one FILE'
complete -c paramlist -s r -l raw -n '__paramlist_offers 1024 --raw' -d 'print a name as its text, not as JSON'
complete -c paramlist -l force -n '__paramlist_offers 32750 --force' -d 'with -o -, write the image to a terminal too; with an edit, edit a file that is not 3950 bytes long; with a read, read one without reporting it'
complete -c paramlist -l wait -n '__paramlist_offers 6308 --wait' -x -d 'give a file up when its edit lock is held that long'
complete -c paramlist -l schema -n '__paramlist_offers 16248 --schema' -x -k -a '(__fish_complete_suffix (commandline -ct) .toml "S")' -d 'describe the entries of every FILE by the schema S'
complete -c paramlist -l no-schema -n '__paramlist_offers 16248 --no-schema' -d 'describe them by none, not even the nearest paramlist.toml'
complete -c paramlist -s h -l help -n '__paramlist_offers 0 --help' -d 'show this help and exit'
complete -c paramlist -s V -l version -n '__paramlist_offers 0 --version' -d 'show the version and exit'
