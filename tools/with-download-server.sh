#!/usr/bin/env bash
# Usage: with-download-server.sh CERT_DIR SETUP_FILE -- COMMAND [ARGS...]
# Runs COMMAND while tools/download_server.py listens on free loopback ports,
# and exits with COMMAND's exit code. SETUP_FILE "-" serves a placeholder.
# COMMAND sees:
#   TOLVIN_TEST_PORT            port with the test CA's certificate
#   TOLVIN_TEST_UNTRUSTED_PORT  port with a certificate nobody trusts
#   TOLVIN_TEST_PROXY_PORT      a CONNECT proxy with a PAC script (connect_proxy.py)
#   TOLVIN_TEST_SERVER_LOG      the request log of server and proxy (Linux path), fresh
# CERT_DIR is made with tools/make-test-ca.sh when it does not exist yet. The
# log folder is removed afterwards unless COMMAND failed.
set -uo pipefail
if [ $# -lt 4 ] || [ "$3" != "--" ]; then
    echo "usage: $0 CERT_DIR SETUP_FILE -- COMMAND [ARGS...]" >&2
    exit 2
fi
cert_dir=$1
setup_file=$2
shift 3
here=$(cd "$(dirname "$0")" && pwd)

"$here/make-test-ca.sh" "$cert_dir" || exit 1
if [ "$setup_file" != "-" ] && [ ! -f "$setup_file" ]; then
    echo "$0: setup file not found: $setup_file" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvin-server.XXXXXX")
server_pid=
command_pid=
keep_work=0

stop_server() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
        server_pid=
    fi
}

on_exit() {
    stop_server
    if [ "$keep_work" = 1 ]; then
        echo "$0: server log kept in $work/server.log" >&2
    else
        rm -rf "$work"
    fi
}

on_signal() {
    # COMMAND runs in the background (see below), where SIGINT is ignored, so
    # it is asked to end with SIGTERM whatever the wrapper got.
    if [ -n "$command_pid" ]; then
        kill -TERM "$command_pid" 2>/dev/null
        wait "$command_pid" 2>/dev/null
    fi
    keep_work=1
    exit "$1"
}

trap on_exit EXIT
trap 'on_signal 130' INT
trap 'on_signal 143' TERM
trap 'on_signal 129' HUP

: >"$work/server.log"
# --watch-pid: the server also goes away if this script is killed outright.
/usr/bin/python3 "$here/download_server.py" --port 0 --untrusted-port 0 --proxy-port 0 \
    --cert-dir "$cert_dir" --setup-file "$setup_file" \
    --log "$work/server.log" --port-file "$work/ports" --watch-pid $$ &
server_pid=$!

for _ in $(seq 100); do
    [ -s "$work/ports" ] && break
    if ! kill -0 "$server_pid" 2>/dev/null; then
        server_pid=
        echo "$0: the download server exited before listening" >&2
        exit 1
    fi
    sleep 0.1
done
if [ ! -s "$work/ports" ]; then
    echo "$0: the download server did not start listening within 10 s" >&2
    exit 1
fi
read -r port untrusted_port proxy_port <"$work/ports"
export TOLVIN_TEST_PORT=$port
export TOLVIN_TEST_UNTRUSTED_PORT=$untrusted_port
export TOLVIN_TEST_PROXY_PORT=$proxy_port
export TOLVIN_TEST_SERVER_LOG=$work/server.log

# In the background, so that a signal to this script is handled at once rather
# than after COMMAND finishes; stdin is passed on explicitly.
"$@" <&0 &
command_pid=$!
wait "$command_pid"
rc=$?
command_pid=
[ "$rc" -ne 0 ] && keep_work=1
exit "$rc"
