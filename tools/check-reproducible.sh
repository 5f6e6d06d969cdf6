#!/usr/bin/env bash
# Usage: check-reproducible.sh [-DNAME=VALUE ...]
# Builds the release preset twice and checks that both tolvin-installer.exe are
# byte for byte the same: once from this source tree into an outside folder,
# once from a copy of the tree elsewhere into its own build/release, the second
# a build's length after the first. On a difference it names the first
# differing offset and the PE field or section that holds it, keeps both
# builds and exits 1. -D arguments go to both configurations.
# TOLVIN_REPRODUCIBLE_DIR: the scratch folder (emptied first and kept);
# default a new folder under /tmp, removed when the builds match.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
if [ -n "${TOLVIN_REPRODUCIBLE_DIR:-}" ]; then
    work=$(realpath -m "$TOLVIN_REPRODUCIBLE_DIR")
    rm -rf "$work"
    mkdir -p "$work"
    keep=1
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/tolvin-reproducible.XXXXXX")
    keep=0
fi

# The copy holds what a checkout of this tree would: tracked and new files,
# uncommitted changes included, nothing git ignores (build folders).
copy=$work/elsewhere/tolvin-src
mkdir -p "$copy"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # The copy has no history: both builds take the build time from the
    # commit through the variable CMake prefers.
    SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
    export SOURCE_DATE_EPOCH
    git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
        tar -c --null -T - | tar -x -C "$copy"
else
    tar -c --exclude=./build --exclude=./dist . | tar -x -C "$copy"
fi

build() {
    local src=$1 out=$2
    shift 2
    local started=$SECONDS
    mkdir -p "$(dirname "$out")"
    (cd "$src" && cmake --preset release -B "$out" "$@") >"$out.log" 2>&1 &&
        cmake --build "$out" -j2 >>"$out.log" 2>&1 || {
        echo "build in $out failed; its output:" >&2
        tail -n 30 "$out.log" >&2
        exit 1
    }
    echo "built $out/tolvin-installer.exe in $((SECONDS - started)) s"
}

first=$work/first
second=$copy/build/release
build "$root" "$first" "$@"
build "$copy" "$second" "$@"

if tools/pe_diff.py "$first/tolvin-installer.exe" "$second/tolvin-installer.exe"; then
    echo "reproducible: $first/tolvin-installer.exe and $second/tolvin-installer.exe are the same"
    [ "$keep" = 1 ] || rm -rf "$work"
    exit 0
fi
echo "NOT reproducible; both builds kept in $work" >&2
exit 1
