#!/usr/bin/env bash
# Runs real SIP peers (SIPp) through a started relay and checks what came out.
# Usage: run_scenario.sh RELAY_BINARY CASE
#   CASE: registration | phone_to_phone | phone_to_upstream | upstream_to_phones
# Every case has its own block of loopback addresses (127.0.N.x), so cases may run side by side;
# the relay's port is a free one picked at start. Every SIPp run is bounded by -m and -timeout.
set -uo pipefail

relay=$(realpath "${1:?relay binary}")
case_name=${2:?case name}
here=$(cd "$(dirname "$0")" && pwd)

# Calls per run and calls per second: low enough for the single-threaded relay on two cores,
# high enough to show datagrams lost under load. SIPP_CALLS and SIPP_RATE change them for a run
# by hand.
calls=${SIPP_CALLS:-200}
rate=${SIPP_RATE:-100}
if ! [[ "$calls" =~ ^[1-9][0-9]*$ && "$rate" =~ ^[1-9][0-9]*$ ]]; then
    echo "SIPP_CALLS and SIPP_RATE must be positive numbers"
    exit 2
fi
sipp_timeout=20s

work=$(mktemp -d "${TMPDIR:-/tmp}/sipp-${case_name}.XXXXXX")
declare -A live_pids # SIPp processes started here and not yet waited for
relay_pid=
failures=0

cleanup() {
    local pid
    for pid in "${!live_pids[@]}" $relay_pid; do
        kill -KILL "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    if [ "$failures" -eq 0 ]; then
        rm -rf "$work"
    else
        echo "kept for inspection: $work"
    fi
}
trap cleanup EXIT
trap 'failures=$((failures + 1)); exit 1' INT TERM

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A UDP port that no socket holds now, on any address. The relay binds it a moment later; a
# clash then shows as a relay that never listens.
free_port() {
    local port hex
    for _ in $(seq 50); do
        port=$((40000 + RANDOM % 20000))
        hex=$(printf '%04X' "$port")
        if ! grep -q "^ *[0-9]*: [0-9A-F]*:$hex " /proc/net/udp; then
            echo "$port"
            return 0
        fi
    done
    echo "no free UDP port found" >&2
    return 1
}

write_config() {
    cat >"$work/SipCfg.ini" <<EOF
myIp1 = 127.0.0.1
myIp2 = 127.0.0.2
myPort = $relay_port
msIp1 = $ms_ip
msPort = $ms_port
outProxyAddr = $proxy_ip
outProxyPort = $proxy_port
EOF
}

# Waits up to 5 s until a UDP socket is bound to IP:PORT, as /proc/net/udp shows it (the
# address in network byte order read as a little-endian number) while process PID lives.
wait_bound() {
    local ip=$1 port=$2 pid=$3
    local a b c d
    IFS=. read -r a b c d <<<"$ip"
    local local_address
    local_address=$(printf '%02X%02X%02X%02X:%04X' "$d" "$c" "$b" "$a" "$port")
    for _ in $(seq 100); do
        if grep -q "^ *[0-9]*: $local_address " /proc/net/udp; then return 0; fi
        if ! kill -0 "$pid" 2>/dev/null; then return 1; fi
        sleep 0.05
    done
    return 1
}

# Starts the relay in the work dir, its console going to console_N.txt, and waits until its
# socket is bound on every address at the relay's port.
relay_runs=0
start_relay() {
    relay_runs=$((relay_runs + 1))
    (cd "$work" && exec "$relay" >"console_$relay_runs.txt" 2>&1) &
    relay_pid=$!
    wait_bound 0.0.0.0 "$relay_port" "$relay_pid" && return 0
    fail "relay did not start on port $relay_port"
    cat "$work/console_$relay_runs.txt"
    exit 1
}

# Stops the relay as Ctrl-C would and expects an orderly exit with code 0.
stop_relay() {
    kill -INT "$relay_pid"
    local rc=0
    for _ in $(seq 100); do
        kill -0 "$relay_pid" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$relay_pid" 2>/dev/null; then
        fail "relay did not stop on SIGINT"
        kill -KILL "$relay_pid"
    fi
    wait "$relay_pid"
    rc=$?
    relay_pid=
    [ "$rc" -eq 0 ] || fail "relay exit code $rc, expected 0"
}

# Common SIPp options: own address and port, large socket buffers, bounded in time, statistics
# and unexpected messages traced to files named after the run.
sipp_opts() {
    local run=$1 ip=$2 port=$3
    echo "-i $ip -p $port -bind_local -mp $((port + 1000)) -buff_size 4194304" \
        "-timeout $sipp_timeout -timeout_error -nostdin" \
        "-trace_stat -stf $work/$run.stat.csv -trace_err -error_file $work/$run.err.log"
}

# Reads one cumulative column of the last line of a SIPp statistics file.
stat_value() {
    local file=$1 column=$2
    awk -F';' -v col="$column" '
        NR == 1 { for (i = 1; i <= NF; i++) if ($i == col) c = i; next }
        { v = $c }
        END { print (c ? v : "missing") }' "$file"
}

# Checks a finished SIPp run: exit code 0, every call successful, nothing failed or unexpected.
check_sipp() {
    local run=$1 rc=$2 expected=$3
    local stat="$work/$run.stat.csv"
    [ "$rc" -eq 0 ] || fail "$run: sipp exit code $rc"
    if [ ! -s "$stat" ]; then
        fail "$run: no statistics file"
        return
    fi
    local ok failed unexpected
    ok=$(stat_value "$stat" 'SuccessfulCall(C)')
    failed=$(stat_value "$stat" 'FailedCall(C)')
    unexpected=$(stat_value "$stat" 'FailedUnexpectedMessage(C)')
    [ "$ok" = "$expected" ] || fail "$run: $ok successful calls, expected $expected"
    [ "$failed" = "0" ] || fail "$run: $failed failed calls"
    [ "$unexpected" = "0" ] || fail "$run: $unexpected unexpected messages"
    if [ -s "$work/$run.err.log" ]; then
        fail "$run: unexpected messages logged"
        head -40 "$work/$run.err.log"
    fi
    echo "$run: sipp rc=$rc, successful calls $ok of $expected"
}

# Runs SIPp in the foreground and checks it. Usage: run_sipp RUN CALLS IP PORT ARGS...
run_sipp() {
    local run=$1 expected=$2 ip=$3 port=$4
    shift 4
    # shellcheck disable=SC2046
    sipp $(sipp_opts "$run" "$ip" "$port") "$@" >"$work/$run.out" 2>&1 &
    local pid=$!
    live_pids[$pid]=1
    wait "$pid"
    local rc=$?
    unset "live_pids[$pid]"
    check_sipp "$run" "$rc" "$expected"
}

# Starts SIPp in the background (a UAS); finish_sipp waits for it and checks it.
declare -A bg_pid
start_sipp() {
    local run=$1 ip=$2 port=$3
    shift 3
    # shellcheck disable=SC2046
    sipp $(sipp_opts "$run" "$ip" "$port") "$@" >"$work/$run.out" 2>&1 &
    bg_pid[$run]=$!
    live_pids[$!]=1
    # The first INVITE must find the UAS listening.
    wait_bound "$ip" "$port" "$!" || fail "$run: sipp did not bind $ip:$port"
}

finish_sipp() {
    local run=$1 expected=$2
    local pid=${bg_pid[$run]}
    wait "$pid"
    local rc=$?
    unset "live_pids[$pid]"
    check_sipp "$run" "$rc" "$expected"
}

# Registers one user from IP:PORT with a short SIPp run, then the address is free again for
# the SIPp instance that will serve that user's calls.
register_one() {
    local user=$1 ip=$2 port=$3
    printf 'SEQUENTIAL\n%s;\n' "$user" >"$work/user_$user.csv"
    run_sipp "register_$user" 1 "$ip" "$port" "127.0.0.1:$relay_port" \
        -sf "$here/register.xml" -inf "$work/user_$user.csv" -key expires 3600 -m 1
}

# The relay flushes its traffic log with each datagram it logs, not with each line: the last
# "sned to" line of a run reaches the file with the next datagram or at the stop. Forwarded
# datagrams are therefore counted with the relay stopped, or right after a REGISTER answer.
sned_count() {
    grep -c "sned to" "$work/sip_log.txt" 2>/dev/null || true
}

# Expects the relay to have forwarded exactly N more datagrams since the count BEFORE, every
# one of them sent in full.
check_forwarded() {
    local what=$1 before=$2 expected=$3
    local now
    now=$(sned_count)
    [ $((now - before)) -eq "$expected" ] \
        || fail "$what: $((now - before)) forwarded datagrams, expected $expected"
    local failed_sends
    failed_sends=$(grep -c "sned to '.*', len=-" "$work/sip_log.txt" || true)
    [ "$failed_sends" -eq 0 ] || fail "$what: $failed_sends failed sends in sip_log.txt"
    echo "$what: $((now - before)) forwarded datagrams"
}

# Forwarded datagrams per call of uac_call.xml against uas_call.xml:
# INVITE, 100, 180, 200, ACK, BYE, 200.
per_call=7

case_registration() {
    local users=100
    {
        echo SEQUENTIAL
        for i in $(seq -w 1 $users); do echo "user$i;"; done
    } >"$work/users.csv"
    start_relay
    run_sipp register_all $users "$phone_a_ip" "$phone_a_port" "127.0.0.1:$relay_port" \
        -sf "$here/register.xml" -inf "$work/users.csv" -key expires 3600 -m $users -r "$rate"
    local lines
    lines=$(grep -c . "$work/RegUsers.txt")
    [ "$lines" -eq $users ] || fail "RegUsers.txt holds $lines lines after registering, expected $users"
    stop_relay

    # At start the relay echoes every binding that it reads back.
    start_relay
    stop_relay
    local echoed
    echoed=$(awk '/^read\(\)\.\.\.\r?$/ { on = 1; next } /^Server\(/ { on = 0 } on' \
        "$work/console_2.txt" | grep -c "^user[0-9]*, $phone_a_ip, $phone_a_port, $phone_a_ip, $phone_a_port, .*, 3600")
    [ "$echoed" -eq $users ] || fail "$echoed bindings echoed after restart, expected $users"
    echo "restart: $echoed bindings echoed"

    start_relay
    run_sipp unregister_half $((users / 2)) "$phone_a_ip" "$phone_a_port" "127.0.0.1:$relay_port" \
        -sf "$here/register.xml" -inf "$work/users.csv" -key expires 0 -m $((users / 2)) -r "$rate"
    stop_relay
    lines=$(grep -c . "$work/RegUsers.txt")
    [ "$lines" -eq $((users / 2)) ] \
        || fail "RegUsers.txt holds $lines lines after unregistering, expected $((users / 2))"
    local last_removed first_kept
    last_removed=$(printf 'user%03d' $((users / 2)))
    first_kept=$(printf 'user%03d' $((users / 2 + 1)))
    grep -q "^$last_removed, " "$work/RegUsers.txt" && fail "$last_removed still bound"
    grep -q "^$first_kept, " "$work/RegUsers.txt" || fail "$first_kept no longer bound"
    [ "$(sned_count)" -eq 0 ] || fail "REGISTER answers must not be forwarded"
    echo "unregister: RegUsers.txt holds $lines lines"
}

case_phone_to_phone() {
    start_relay
    register_one 1002 "$phone_b_ip" "$phone_b_port"
    register_one 1001 "$phone_a_ip" "$phone_a_port"
    local before
    before=$(sned_count)
    start_sipp callee_1002 "$phone_b_ip" "$phone_b_port" -sf "$here/uas_call.xml" -m "$calls"
    run_sipp caller_1001 "$calls" "$phone_a_ip" "$phone_a_port" "127.0.0.1:$relay_port" \
        -sf "$here/uac_call.xml" -s 1002 -key caller 1001 -m "$calls" -r "$rate"
    finish_sipp callee_1002 "$calls"
    stop_relay
    check_forwarded "phone to phone" "$before" $((calls * per_call))
}

case_phone_to_upstream() {
    start_relay
    register_one 1001 "$phone_a_ip" "$phone_a_port"
    local before
    before=$(sned_count)
    start_sipp upstream_server "$ms_ip" "$ms_port" -sf "$here/uas_call.xml" -m "$calls"
    run_sipp caller_1001 "$calls" "$phone_a_ip" "$phone_a_port" "127.0.0.1:$relay_port" \
        -sf "$here/uac_call.xml" -s 2000 -key caller 1001 -m "$calls" -r "$rate"
    finish_sipp upstream_server "$calls"
    stop_relay
    check_forwarded "phone to unregistered user" "$before" $((calls * per_call))
}

case_upstream_to_phones() {
    start_relay
    register_one 1002 "$phone_b_ip" "$phone_b_port"
    local before
    before=$(sned_count)
    start_sipp callee_1002 "$phone_b_ip" "$phone_b_port" -sf "$here/uas_call.xml" -m "$calls"
    run_sipp upstream_to_1002 "$calls" "$ms_ip" "$ms_port" "127.0.0.1:$relay_port" \
        -sf "$here/uac_call.xml" -s 1002 -key caller upstream -m "$calls" -r "$rate"
    finish_sipp callee_1002 "$calls"
    stop_relay
    check_forwarded "upstream server to registered phone" "$before" $((calls * per_call))

    # Started anew, so that each run's forwarded datagrams are counted with the relay stopped.
    start_relay
    before=$(sned_count)
    start_sipp outbound_proxy "$proxy_ip" "$proxy_port" -sf "$here/uas_call.xml" -m "$calls"
    run_sipp upstream_to_3000 "$calls" "$ms_ip" "$ms_port" "127.0.0.1:$relay_port" \
        -sf "$here/uac_call.xml" -s 3000 -key caller upstream -m "$calls" -r "$rate"
    finish_sipp outbound_proxy "$calls"
    stop_relay
    check_forwarded "upstream server to unregistered user" "$before" $((calls * per_call))
}

# Addresses of the case: a block of its own, 127.0.N.x, and SIPp ports below the ephemeral
# range, so that neither the other cases nor a relay's free port can hold them.
case "$case_name" in
    registration) block=1 ;;
    phone_to_phone) block=2 ;;
    phone_to_upstream) block=3 ;;
    upstream_to_phones) block=4 ;;
    *)
        echo "unknown case: $case_name"
        exit 2
        ;;
esac
base=$((20000 + block * 100))
phone_a_ip=127.0.$block.20 # user 1001, or the user table of the registration case
phone_a_port=$((base + 60))
phone_b_ip=127.0.$block.21 # user 1002
phone_b_port=$((base + 62))
ms_ip=127.0.$block.30 # upstream server
ms_port=$((base + 80))
proxy_ip=127.0.$block.40 # outbound proxy
proxy_port=$((base + 70))
relay_port=$(free_port) || exit 1
write_config

"case_$case_name"

if [ "$failures" -eq 0 ]; then
    echo "$case_name: passed"
    exit 0
fi
echo "$case_name: $failures check(s) failed"
exit 1
