# Sourced by the run scripts: starts a private Xvfb display (1366 x 768) and
# exports DISPLAY; the display is stopped when the sourcing shell exits.
start_private_display() {
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    TOLVIN_XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$fdfile" ] && break
        sleep 0.1
    done
    if [ ! -s "$fdfile" ]; then
        echo "Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$(head -n1 "$fdfile")"
    rm -f "$fdfile"
    trap 'kill $TOLVIN_XVFB_PID 2>/dev/null || true' EXIT
}
