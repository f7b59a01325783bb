#!/bin/sh
# Runs one example host program against the simulated reader over TCP and
# checks what it printed.
#
#     run.sh ZRSIM COMMAND [ARGS...]
#
# Starts ZRSIM with three known tags on a free loopback address, writes a
# configuration file for it, runs COMMAND ARGS... CONFIG_FILE READER, stops
# the simulator and compares the output with the tags.
set -u
zrsim=$1
shift

work=$(mktemp -d "${TMPDIR:-/tmp}/zr-example-XXXXXX") || exit 1
sim_pid=
# Stops zrsim: SIGTERM, and SIGKILL if it has not gone within 2 s.
stop_sim() {
    [ -n "$sim_pid" ] || return 0
    kill "$sim_pid" 2>/dev/null
    for _ in $(seq 1 40); do
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -9 "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
}
cleanup() {
    stop_sim
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

cat > "$work/tags.txt" <<'TAGS'
id=E200341201020304 epc=300011112222 user=000102030405060708090A0B0C0D0E0F1011
id=E200341201020305 epc=300033334444 user=F0F1F2F3
id=E2003412010203FF epc=300055556666
TAGS

# zrsim refuses an address whose port 7086 is taken: try the next one.
start=$(( $$ % 200 ))
address=
for i in $(seq 0 40); do
    candidate="127.0.0.$(( 2 + (start + i * 5) % 250 ))"
    "$zrsim" --tcp "$candidate" --tag-file "$work/tags.txt" > "$work/sim.out" 2> "$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 1 100); do
        if grep -q '^zrsim: ready' "$work/sim.out" 2>/dev/null; then
            address=$candidate
            break 2
        fi
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    stop_sim
done
if [ -z "$address" ]; then
    echo "run.sh: zrsim did not start:" >&2
    cat "$work/sim.err" >&2
    exit 1
fi

cat > "$work/reader.ini" <<INI
[READER]
ZR_PORT_TYPE=TCP
ZR_COM_NUMBER=none
ZR_HOST_NAME=$address
ZR_READ_TRIES=20
INI

"$@" "$work/reader.ini" READER > "$work/out.txt"
status=$?
cat "$work/out.txt"
if [ "$status" -ne 0 ]; then
    echo "run.sh: the example exited with $status" >&2
    exit 1
fi

expected="report: 00e200341201020304
report: 00e200341201020305
report: 00e2003412010203ff
3 reports
user memory of e200341201020304: 000102030405060708090a0b0c0d0e0f"
if [ "$(cat "$work/out.txt")" != "$expected" ]; then
    echo "run.sh: unexpected output; expected:" >&2
    echo "$expected" >&2
    exit 1
fi
echo "run.sh: ok"
