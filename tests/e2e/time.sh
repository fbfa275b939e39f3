#!/usr/bin/env bash
#
# End-to-end: the time the clock shows, read from its window by text
# recognition (tesseract), against the clock of the system it runs on: as it
# is, held up, and moved with libfaketime past midnight, back and forth, and
# through the night a daylight saving time ends.
#
# Usage: time.sh PATH/TO/noksu
#
# Prints "ok - ..." / "not ok - ..." for each check and a closing
# "N passed, N failed" line; exits non-zero if any check failed.

set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=xsession.sh
source "$here/xsession.sh"

e2e_begin "$@"
work=$XSESSION_DIR

# ----------------------------------------------------------------------------
# watching the clock
# ----------------------------------------------------------------------------

# record SECONDS: takes a picture of the clock every tenth of a second for
# SECONDS (tenths allowed), then reads them into $work/readings, one
# "BEFORE AFTER TEXT" line each: the real time just before and after the
# picture (microseconds since the epoch) and the time read in it. Reading
# comes after watching, so as not to slow it down; a picture the same as the
# one before it reads the same.
record() {
    local end n=0 before after file sum last="" text=""
    end=$(($(xsession_now_us) + $(awk -v s="$1" 'BEGIN { printf "%d", s * 1000000 }')))
    : >"$work/recording"
    while (($(xsession_now_us) < end)); do
        n=$((n + 1))
        file=$work/recorded-$n.png
        before=$(xsession_now_us)
        clock_capture "$file" || break
        after=$(xsession_now_us)
        echo "$before $after $file" >>"$work/recording"
        sleep 0.1
    done
    : >"$work/readings"
    while read -r before after file; do
        sum=$(md5sum <"$file")
        if [[ $sum != "$last" ]]; then
            text=$(clock_read_picture "$file")
            last=$sum
        fi
        echo "$before $after $text" >>"$work/readings"
    done <"$work/recording"
}

readings() {
    cat "$work/readings"
}

# expect_readings_match NAME [EARLIER SINCE]: every recorded picture shows
# the time within a second. With EARLIER, a command that takes a reading
# ("BEFORE AFTER TEXT"), the pictures may show what EARLIER accepts until the
# first one shows the time, which must come within a second of SINCE
# (microseconds since the epoch). Sets first_current to when the first picture
# that shows the time was taken.
expect_readings_match() {
    local name=$1 earlier=${2:-} since=${3:-} before after text
    local wrong=() count=0 first=""
    while read -r before after text; do
        count=$((count + 1))
        if clock_time_matches "$before" "$after" "$text"; then
            [[ -n $first ]] || first=$before
        elif [[ -z $first && -n $earlier ]] && "$earlier" "$before" "$after" "$text"; then
            continue
        else
            wrong+=("read $text, expected $(clock_expected "$before" "$after")")
        fi
    done < <(readings)
    first_current=$first
    if ((count == 0 || ${#wrong[@]} > 0)); then
        fail "$name: ${#wrong[@]} of $count pictures wrong: ${wrong[*]:0:5}"
    elif [[ -z $earlier ]]; then
        pass "$name ($count pictures)"
    elif [[ -z $first ]]; then
        fail "$name: none of $count pictures shows the time"
    elif ((first - since > 1000000)); then
        fail "$name: the time shows only $(((first - since) / 1000)) ms later"
    else
        pass "$name ($count pictures; the time shows $(((first - since) / 1000)) ms later)"
    fi
}

# For expect_readings_match: the time left on a clock held up.
is_stale() {
    [[ $3 == "$stale" ]]
}

# For expect_readings_match: the time on the clock before it was set.
on_old_clock() {
    CLOCK_TIME_OFFSET=$old_offset clock_time_matches "$@"
}

# times_since MICROSECONDS: how many times the pictures taken since then
# showed.
times_since() {
    readings | awk -v since="${1:-0}" '$1 >= since { print $3 }' | uniq | wc -l
}

# shown_times: the times the recorded pictures showed, one a line, each once
# in the order shown.
shown_times() {
    readings | awk '{ print $3 }' | uniq
}

# expect_shown_in_turn NAME TIME...: the clock showed these times one right
# after the other.
expect_shown_in_turn() {
    local name=$1
    shift
    local wanted shown
    wanted=$(printf '%s\n' "$@")
    shown=$(shown_times)
    if [[ $'\n'$shown$'\n' == *$'\n'$wanted$'\n'* ]]; then
        pass "$name"
    else
        fail "$name: shown in turn: $(xargs <<<"$shown")"
    fi
}

# ----------------------------------------------------------------------------
# the clock as it is
# ----------------------------------------------------------------------------

if start_clock real; then
    record 2.5
    expect_readings_match "the time shown is the system's, within a second, for 2.5 seconds"
    check "the time shown goes on" test "$(shown_times | wc -l)" -ge 2

    # Held up: no tick comes while the process is stopped, and the first one
    # after it goes on shows the time as it is then, not the next second of
    # those it missed.
    stopped=$(xsession_now_us)
    kill -STOP "$clock_pid"
    sleep 3
    read -r _ _ stale <<<"$(clock_read_time)"
    if clock_time_matches "$stopped" "$stopped" "$stale"; then
        pass "a clock held up shows the time it was stopped at ($stale)"
    else
        fail "a clock held up shows $stale, not the time it was stopped at, $(clock_expected "$stopped" "$stopped")"
    fi
    kill -CONT "$clock_pid"
    resumed=$(xsession_now_us)
    record 1.5
    expect_readings_match "after 3 s held up the clock shows the time at once, and nothing in between" \
        is_stale "$resumed"

    clock_menu_key -1
    expect_exit "closed after the clock was held up"
fi

# ----------------------------------------------------------------------------
# the clock moved with libfaketime
# ----------------------------------------------------------------------------

if ! mapfile -t faketime < <(e2e_faketime_env) || ((${#faketime[@]} == 0)); then
    fail "libfaketime is not installed (scripts/run-tests installs it)"
    e2e_finish
    exit
fi

# The clock's time is the real one moved by the number of seconds in this
# file, which libfaketime reads at every look at the clock. The monotonic
# clock, which paces GLib's timers, is left as it is: setting the system's
# clock never moves it. (Moved back with the rest, it would hold the timer
# up until it had caught up again: an hour without a tick.)
faked=$work/faked-offset

# set_clock TZ 'YYYY-MM-DD HH:MM:SS': from now on the clock's time runs from
# that local time in the time zone TZ.
set_clock() {
    local zone=$1 at
    at=$(TZ=$zone date -d "$2" +%s) || return 1
    CLOCK_TIME_OFFSET=$((at - $(date +%s)))
    CLOCK_TZ=$zone
    printf '%+d\n' "$CLOCK_TIME_OFFSET" >"$faked.new"
    mv "$faked.new" "$faked"
}

# start_faked NAME TZ 'YYYY-MM-DD HH:MM:SS': the clock started in the time
# zone TZ, and set to that local time once its window is up: however long the
# start takes, what comes next is there to watch. Until the clock shows the
# time it was set to, it may show the time it started at (on_old_clock),
# for up to a second from set_at.
start_faked() {
    set_clock "$2" "$3" || return 1
    start_clock "$1" env TZ="$2" FAKETIME_TIMESTAMP_FILE="$faked" FAKETIME_NO_CACHE=1 \
        FAKETIME_DONT_FAKE_MONOTONIC=1 "${faketime[@]}" || return 1
    old_offset=$CLOCK_TIME_OFFSET
    set_at=$(xsession_now_us)
    set_clock "$2" "$3"
}

clock_shows_the_time() {
    local before after text
    read -r before after text <<<"$(clock_read_time)"
    [[ -n $before ]] && clock_time_matches "$before" "$after" "$text"
}

# Past midnight, and past the last second of a year. The watching starts as
# soon as the clock is set, two seconds before: on a busy machine the reading
# of a picture can take longer than a second.
if start_faked midnight UTC '2026-12-31 23:59:57'; then
    record 4
    expect_readings_match "from 23:59:57 for 4 seconds the time shown is the clock's" \
        on_old_clock "$set_at"
    expect_shown_in_turn "the time shown goes from 23:59:59 to 00:00:00" 23:59:59 00:00:00
    clock_menu_key -1
    expect_exit "closed after midnight"
fi

# The clock set back while the program runs: the time shown follows within
# a second and goes on from there. Each case: where the clock starts, where
# it is set.
set_cases=(
    "back an hour and more|2026-12-11 10:00:05|2026-12-11 08:58:50"
    "back a few seconds, across a minute|2026-06-15 12:00:01|2026-06-15 11:59:58"
)
for case in "${set_cases[@]}"; do
    IFS='|' read -r name from to <<<"$case"
    start_faked "set-${name//[^a-z]/-}" UTC "$from" || continue
    if ! xsession_poll 2 clock_shows_the_time; then
        fail "set $name: the clock does not show the time it was set to, $from"
    fi
    expect_time "set $name: before, the time shown is the clock's"
    old_offset=$CLOCK_TIME_OFFSET
    set_at=$(xsession_now_us)
    set_clock UTC "$to"
    record 2
    expect_readings_match "set $name: the time shown follows within a second" on_old_clock "$set_at"
    check "set $name: the time shown goes on" test "$(times_since "$first_current")" -ge 2
    clock_menu_key -1
    expect_exit "set $name: closed"
done

# Daylight saving time ends in Finland on the last Sunday of October at
# 04:00 summer time, when the clocks go back to 03:00: 03:00:00 follows
# 03:59:59.
if start_faked fall-back Europe/Helsinki '2026-10-25 03:59:57 EEST'; then
    record 4
    expect_readings_match "in Helsinki from 03:59:57 summer time for 4 seconds the time shown is the clock's" \
        on_old_clock "$set_at"
    expect_shown_in_turn "when summer time ends the time shown goes from 03:59:59 back to 03:00:00" \
        03:59:59 03:00:00
    clock_menu_key -1
    expect_exit "closed after summer time"
fi

e2e_finish
