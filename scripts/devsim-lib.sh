# Shell helpers for scripts that play a device with korvane-devsim (the demo,
# the download benchmark, the Windows cross-check). Source it after setting
# $bin (or the array `devsim`, the command that starts the simulator): it
# makes the script's scratch folder $work and, on exit, stops the simulator
# and removes $work.

sim_pid=""
work=$(mktemp -d)
trap 'stop_devsim; rm -rf "$work"' EXIT

# start_devsim ADDRESS OUT_DIR: starts the simulator in the background with its
# stdout in $work/devsim.out and stderr in $work/devsim.err, and waits up to 5 s
# for its "listening on" line. Returns 1 (its stderr shown) when it did not start.
start_devsim() {
    "${devsim[@]:-$bin/korvane-devsim}" --bind "$1" --out "$2" \
        >"$work/devsim.out" 2>"$work/devsim.err" &
    sim_pid=$!
    for _ in $(seq 1 100); do
        grep -q '^listening on ' "$work/devsim.err" && return 0
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    grep -q '^listening on ' "$work/devsim.err" && return 0
    cat "$work/devsim.err" >&2
    return 1
}

# stop_devsim: ends a running simulator (SIGINT) and waits for it.
stop_devsim() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -INT "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    sim_pid=""
}
