#!/usr/bin/env bash
# Usage: fuzz-registry.sh [OUTDIR] [SECONDS] [extra libFuzzer options...]
# Builds the config.toml line rules natively with clang and libFuzzer (address
# and undefined-behaviour sanitizers on) and fuzzes them for a bounded time
# (default 60 s). OUTDIR (default /tmp/tolvin-fuzz-registry) keeps the binary,
# the growing corpus and any crash inputs, so later runs continue where the
# last one stopped. Exits non-zero when the fuzzer finds a fault.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-/tmp/tolvin-fuzz-registry}")
seconds=${2:-60}
shift $(( $# > 2 ? 2 : $# ))

if ! command -v clang++ >/dev/null 2>&1 || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'install ok installed'; then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -q
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends clang libclang-rt-14-dev
fi

mkdir -p "$out/corpus" "$out/crashes"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" \
    "$root/registry/registry_format.cpp" "$root/tests/registry/fuzz_registry.cpp" \
    -o "$out/fuzz_registry"

# Seeds: the product's own record, in the written layout and in LF-only form.
if [ -z "$(ls -A "$out/corpus")" ]; then
    printf '[[software]]\r\nname = "tolvin\xe9\x9f\xb3\xe9\xa2\x91\xe6\xa0\xbc\xe5\xbc\x8f\xe8\xbd\xac\xe6\x8d\xa2\xe5\x99\xa8"\r\nproduct_id = "1"\r\ndistributor_id = "1"\r\n' >"$out/corpus/product-crlf"
    printf '# comment\n[[software]]\nname = "x" # note\nproduct_id = 7\n[other]\ndistributor_id = "2"\n' >"$out/corpus/mixed-lf"
fi

"$out/fuzz_registry" "$out/corpus" \
    -dict="$root/tests/registry/fuzz_registry.dict" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix="$out/crashes/" -print_final_stats=1 "$@"
