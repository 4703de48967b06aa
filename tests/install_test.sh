#!/usr/bin/env bash
# Installs a build into a fresh prefix, checks the tree, then builds and runs a
# consumer project against it through find_package(paramlist).
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for file in bin/paramlist share/man/man1/paramlist.1.gz include/paramlist/Parameter.h include/paramlist/AtomicReplace.h \
            include/paramlist/EditLock.h include/paramlist/FileSystem.h share/doc/paramlist/examples/sample.par \
            share/cmake/paramlist/paramlistConfig.cmake \
            share/bash-completion/completions/paramlist share/zsh/vendor-completions/_paramlist \
            share/fish/vendor_completions.d/paramlist.fish; do
    test -f "$work/prefix/$file" || { echo "missing from the install tree: $file"; exit 1; }
done
"$work/prefix/bin/paramlist" "$here/../examples/sample.par" >/dev/null

# The git set-up of the examples, included from where this prefix holds it.
if command -v git >/dev/null; then
    git init -q "$work/repo"
    (
        cd "$work/repo"
        export PATH="$work/prefix/bin:$PATH" GIT_CONFIG_NOSYSTEM=1 HOME="$work"
        git config include.path "$work/prefix/share/doc/paramlist/examples/paramlist.gitconfig"
        # cachetextconv keeps its text in a notes commit, which needs an identity.
        git config user.name CI && git config user.email ci@paramlist.invalid
        echo '*.par diff=paramlist merge=paramlist' >.gitattributes
        cp "$here/../examples/sample.par" plant.par
        git add . && git -c user.name=CI -c user.email=ci@paramlist.invalid commit -qm sample
        printf '\007' | dd of=plant.par bs=1 seek=4 conv=notrunc 2>/dev/null
        git diff | grep -qxF '+Init[1]: 1031' || { echo "git diff through the installed set-up: $(git diff)"; exit 1; }
    )
fi

cmake -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer" "$work/record.par"
