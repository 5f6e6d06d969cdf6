#!/usr/bin/env bash
# Stands in for the user's browser inside test prefixes: appends each URL it is
# given to $TOLVIN_BROWSER_LOG (or to browser.log in the prefix), one per line.
log=${TOLVIN_BROWSER_LOG:-${WINEPREFIX:-/tmp}/browser.log}
for url in "$@"; do
    printf '%s\n' "$url" >> "$log"
done
