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
for file in bin/paramlist share/man/man1/paramlist.1.gz include/paramlist/Parameter.h share/doc/paramlist/examples/sample.par \
            share/cmake/paramlist/paramlistConfig.cmake \
            share/bash-completion/completions/paramlist share/zsh/vendor-completions/_paramlist \
            share/fish/vendor_completions.d/paramlist.fish; do
    test -f "$work/prefix/$file" || { echo "missing from the install tree: $file"; exit 1; }
done
"$work/prefix/bin/paramlist" "$here/../examples/sample.par" >/dev/null

cmake -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer" "$work/record.par"
