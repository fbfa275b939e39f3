#!/usr/bin/env bash
#
# End-to-end: the real noksu binary over a long run and when its X server
# goes away. The long run is hours of the clock's time in seconds, with
# libfaketime speeding up the clock the program sees, its timers included:
# its memory must stay flat. An X server killed under it must end it, not
# leave it hanging.
#
# Usage: faults.sh PATH/TO/noksu
#
# Prints "ok - ..." / "not ok - ..." for each check and a closing
# "N passed, N failed" line; exits non-zero if any check failed.

set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=xsession.sh
source "$here/xsession.sh"

e2e_begin "$@"

# ----------------------------------------------------------------------------
# a long run
# ----------------------------------------------------------------------------

# 1440 times as fast: a day in a minute, six hours in the 15 seconds watched,
# with libfaketime reading how to move the clock from a file, once a second.
# The monotonic clock is sped up too, so GLib's timer fires as often as it
# would over those hours, as often as the program can take it.
speed=1440
warm_up=3
samples=15

# memory: "PRIVATE_DIRTY RSS" of the clock, in KiB.
memory() {
    awk '/^Private_Dirty:/ { dirty = $2 } /^Rss:/ { rss = $2 } END { print dirty, rss }' \
        "/proc/$clock_pid/smaps_rollup"
}

# growth COLUMN: from the samples, the median of the last five less the
# median of the first five, in KiB.
growth() {
    awk -v column="$1" '{ value[NR] = $column }
        function median(from,   i, j, n, v, t) {
            n = 0
            for (i = from; i < from + 5; i++) v[++n] = value[i]
            for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++)
                if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
            return v[3]
        }
        END { print median(NR - 4) - median(1) }' "$XSESSION_DIR/memory"
}

# Flat: neither the private memory written to nor the resident set grows by
# more than 256 KiB between the first five and the last five samples. A
# clock that kept 64 bytes a tick grows by megabytes here; allocators and
# caches settle within the warm-up, after which this clock's memory does not
# move by a page.
flat_limit=256

clock_read_time_any() {
    [[ $(clock_read_time | awk '{ print $3 }') =~ ^[0-9][0-9]:[0-9][0-9]:[0-9][0-9]$ ]]
}

echo "+0" >"$XSESSION_DIR/faked"
if ! mapfile -t faketime < <(e2e_faketime_env) || ((${#faketime[@]} == 0)); then
    fail "libfaketime is not installed (scripts/run-tests installs it)"
elif start_clock long-run env FAKETIME_TIMESTAMP_FILE="$XSESSION_DIR/faked" \
        FAKETIME_CACHE_DURATION=1 "${faketime[@]}"; then
    # It starts at the speed of the real clock, and is sped up once it shows
    # the time: a program starting up on a clock that runs this fast gets a
    # tick due at every turn of its loop, before its window is even mapped.
    xsession_poll 5 clock_read_time_any
    echo "+0 x$speed" >"$XSESSION_DIR/faked"
    sleep "$warm_up"
    first=$(clock_read_time | awk '{ print $3 }')
    : >"$XSESSION_DIR/memory"
    for ((i = 0; i < samples; i++)); do
        memory >>"$XSESSION_DIR/memory"
        sleep 1
    done
    last=$(clock_read_time | awk '{ print $3 }')
    echo "# a second apart, in KiB: Private_Dirty $(cut -d' ' -f1 "$XSESSION_DIR/memory" | xargs)"
    echo "#                         Rss $(cut -d' ' -f2 "$XSESSION_DIR/memory" | xargs)"
    check "the clock runs through the hours ($first to $last)" \
        test "$first" != "$last" -a "$first" != "?" -a "$last" != "?"
    if e2e_sanitized; then
        # LeakSanitizer looks for leaks as the clock ends instead.
        echo "# memory not judged: AddressSanitizer keeps what is freed in quarantine"
    else
        dirty=$(growth 1)
        rss=$(growth 2)
        check "its private memory stays flat over $((samples * speed / 3600)) hours of its time (grew $dirty KiB)" \
            test "$dirty" -le "$flat_limit"
        check "its resident memory stays flat over $((samples * speed / 3600)) hours of its time (grew $rss KiB)" \
            test "$rss" -le "$flat_limit"
    fi
    clock_menu_key -1
    expect_exit "closed after the long run"
fi

# ----------------------------------------------------------------------------
# the X server gone
# ----------------------------------------------------------------------------

info_open() {
    clock_menu_key 3 && xsession_wait_for_window NoksuInfo 10 >/dev/null
}

just_running() {
    true
}

# Each case: what the clock is doing, how, and the signal the X server gets.
x_cases=(
    "running|just_running|KILL"
    "showing its info box|info_open|KILL"
    "running|just_running|TERM"
)

first=yes
for case in "${x_cases[@]}"; do
    IFS='|' read -r doing setup signal <<<"$case"
    name="X server ended with $signal while the clock is $doing"
    # Each case ends its X session: the next one starts a new one.
    if [[ -z $first ]]; then
        xsession_cleanup
        xsession_start 1024x768x24 || {
            fail "$name: no X session"
            continue
        }
    fi
    first=""
    start_clock "x-$signal" || continue
    if ! "$setup"; then
        fail "$name: the clock is $doing"
        continue
    fi
    killed=$(xsession_now_us)
    kill "-$signal" "$XSESSION_XVFB_PID"
    wait "$XSESSION_XVFB_PID" 2>/dev/null
    if xsession_wait_for_exit "$clock_pid" 5; then
        pass "$name: the clock ends within $((($(xsession_now_us) - killed) / 1000)) ms, status $XSESSION_EXIT_STATUS"
        # Ended by the toolkit, or by a signal it did not expect.
        check "$name: the clock ends by itself, not by a signal" test "$XSESSION_EXIT_STATUS" -lt 128
    else
        fail "$name: the clock still runs 5 s later"
        xsession_stop_process "$clock_pid"
    fi
    show_file "stderr" "$clock_err"
done

e2e_finish
