#!/usr/bin/env bash
# Stands in for the user's browser inside test prefixes: appends each URL it is
# given to browser.log in the prefix, one per line. The URLs come from
# Explorer's process, whose environment is that of whichever program started
# it, so the prefix is the one place every run agrees on.
log=${WINEPREFIX:-/tmp}/browser.log
for url in "$@"; do
    printf '%s\n' "$url" >> "$log"
done
