# fish completion for paramlist: options, and files with the suffix the place
# calls for first (.par, or .json for the input of --from-json and --apply). paramlist
# reads options only before the first file; -- ends them.

complete -c paramlist -f
complete -c paramlist -k -a '(__fish_complete_suffix .par)'
complete -c paramlist -s h -l help -d 'Show the usage and exit'
complete -c paramlist -s V -l version -d 'Show the version and exit'
complete -c paramlist -l json -d 'JSON Lines of files, or of --diff, --check or --dry-run'
complete -c paramlist -l from-json -x -k -a '(__fish_complete_suffix (commandline -ct) .json "JSON input")' -d 'Write the image a JSON object describes'
complete -c paramlist -s o -l output -x -k -a '(__fish_complete_suffix (commandline -ct) .par "output file")' -d 'The file --from-json writes'
complete -c paramlist -l force -d 'With --from-json -o -: write to a terminal too'
complete -c paramlist -l diff -d 'Entries whose values differ from the first file'
complete -c paramlist -l brief -d 'With --diff: only the paths of files that differ'
complete -c paramlist -l check -d 'What is unsound in each file'
complete -c paramlist -l set -x -a 'Init\[ TerminalCondition\[ Operations\[ Names\[ Document\[' -d 'Change an entry in place'
complete -c paramlist -l create -d 'With --set or --edit: create a missing file'
complete -c paramlist -s n -l dry-run -d 'With --set or --apply: show what would change'
complete -c paramlist -l apply -x -k -a '(__fish_complete_suffix (commandline -ct) .json input)' -d 'Set the entries a text of files changes'
complete -c paramlist -l edit -d 'Change the entries of a file in your editor'
complete -c paramlist -l entries -d 'Every entry on a line of its own'
complete -c paramlist -l merge -d 'Merge the changes of THEIRS into OURS'
complete -c paramlist -l ours -d 'With --merge: resolve conflicts as OURS has them'
complete -c paramlist -l theirs -d 'With --merge: resolve conflicts as THEIRS has them'
complete -c paramlist -l path -x -k -a '(__fish_complete_suffix (commandline -ct) .par path)' -d 'With --merge: the name of conflicts'
