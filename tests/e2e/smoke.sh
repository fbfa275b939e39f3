#!/usr/bin/env bash
#
# End-to-end smoke test: runs the real noksu binary in a private X session
# (Xvfb + openbox) and uses it as a person would, through the command line,
# the window manager, the keyboard and the mouse, checking from outside what
# the program shows and how it ends.
#
# Usage: smoke.sh PATH/TO/noksu
#
# Prints "ok - ..." / "not ok - ..." for each check and a closing
# "N passed, N failed" line; exits non-zero if any check failed.

set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=xsession.sh
source "$here/xsession.sh"

e2e_begin "$@"
work=$XSESSION_DIR
title=Noksu
info_title=NoksuInfo
background_title=Taustaväri
text_colour_title='Tekstin väri'

running() {
    kill -0 "$1" 2>/dev/null
}

# ----------------------------------------------------------------------------
# command line: usage on stderr, no window, exit status 255
# ----------------------------------------------------------------------------

sync_count=0

# Makes the X server tell the spying xprop something after all that came
# before, and waits until it has written it.
spy_sync() {
    local log=$1
    sync_count=$((sync_count + 1))
    xprop -root -f _NOKSU_E2E_SYNC 32c -set _NOKSU_E2E_SYNC "$sync_count"
    xsession_poll 5 grep -q "_NOKSU_E2E_SYNC(CARDINAL) = $sync_count\$" "$log"
}

ended_or_window_listed() {
    ! running "$1" || grep -q '^_NET_CLIENT_LIST.*0x' "$2"
}

# run_without_window NAME ARGS...: runs noksu with ARGS, watching the window
# manager's list of managed windows all the while. Sets run_status,
# run_windows (the window ids the list ever held) and the files run_err and
# run_out.
run_without_window() {
    local name=$1
    shift
    run_out=$work/$name.out
    run_err=$work/$name.err
    local spy_log=$work/$name.spy

    xprop -root -f _NOKSU_E2E_SYNC 32c -set _NOKSU_E2E_SYNC 0
    : >"$spy_log"
    xprop -root -spy _NET_CLIENT_LIST _NOKSU_E2E_SYNC >"$spy_log" 2>&1 &
    local spy=$!
    XSESSION_PIDS+=("$spy")
    # The spy prints the current values first: from then on it is watching.
    xsession_poll 5 grep -q '_NOKSU_E2E_SYNC' "$spy_log"

    xsession_launch "$run_out" "$run_err" "$NOKSU" "$@"
    local pid=$!
    # It should end at once; a window on the list means it went on to run.
    xsession_poll 15 ended_or_window_listed "$pid" "$spy_log"
    if xsession_wait_for_exit "$pid" 0; then
        run_status=$XSESSION_EXIT_STATUS
    else
        run_status="still running"
        xsession_stop_process "$pid"
    fi

    spy_sync "$spy_log"
    xsession_stop_process "$spy"
    run_windows=$(grep '^_NET_CLIENT_LIST' "$spy_log" | grep -o '0x[0-9a-f]*' | sort -u | xargs)
}

# Each case: the arguments, then the text stderr must hold besides the usage.
usage_cases=(
    "--help|"
    "-h|"
    "--no-such-option|'no-such-option'"
    "-Z|'Z'"
    "stray-argument|'stray-argument'"
)

for usage in "${usage_cases[@]}"; do
    option=${usage%%|*}
    mention=${usage#*|}
    run_without_window "args${option//[^a-zA-Z]/_}" "$option"
    expect_eq "noksu $option exits with status 255" 255 "$run_status"
    expect_eq "noksu $option shows no window" "" "$run_windows"
    check "noksu $option prints the usage on stderr" grep -q '^Usage: ' "$run_err"
    if [[ -n $mention ]]; then
        check "noksu $option names $mention on stderr" grep -qF -- "$mention" "$run_err"
    fi
    expect_eq "noksu $option prints nothing on stdout" "" "$(cat "$run_out")"
done

# ----------------------------------------------------------------------------
# helpers for the running clock
# ----------------------------------------------------------------------------

# On the window manager's list of the windows it manages.
is_managed() {
    wmctrl -l | awk '{ print $1 }' | grep -qix "$(printf '0x%08x' "$1")"
}

# has_word WORD TEXT: TEXT has WORD as a whole word.
has_word() {
    grep -qw -- "$1" <<<"$2"
}

not_in() {
    ! has_word "$@"
}

shot_count=0
# capture: a new picture of the clock window; prints its file name.
capture() {
    shot_count=$((shot_count + 1))
    local file=$work/shot-$shot_count-$BASHPID.png
    clock_capture "$file" && echo "$file"
}

# in_display FUNCTION [left|right] ARG...: FUNCTION IMAGE GEOMETRY ARG... on a
# new picture, for the part below the menu bar where the time is.
in_display() {
    local function=$1 half=${2:-} shot geometry
    shift 2
    shot=$(capture) || return 1
    geometry=$(clock_display_geometry "$shot" "$half") || return 1
    "$function" "$shot" "$geometry" "$@"
}

display_has_text() {
    local dark
    dark=$(in_display xsession_dark_pixels "") || return 1
    ((dark >= 20))
}

display_hash() {
    in_display xsession_pixels_hash ""
}

# The time shown changes within a few seconds.
display_changes() {
    local before
    before=$(display_hash) || return 1
    xsession_poll 3 display_differs_from "$before"
}

display_differs_from() {
    local now
    now=$(display_hash) || return 1
    [[ $now != "$1" ]]
}

# colour_pixels #RRGGBB [left|right]: in the time display, or that half of it.
colour_pixels() {
    in_display xsession_colour_pixels "${2:-}" "$1"
}

# shows_colour #RRGGBB: the colour is all along the time, the hours as well as
# the seconds: well over a few stray pixels in either half.
shows_colour() {
    local left right
    left=$(colour_pixels "$1" left) || return 1
    right=$(colour_pixels "$1" right) || return 1
    ((left >= 50 && right >= 50))
}

gone_window() {
    ! xwininfo -id "$1" >/dev/null 2>&1 || ! xsession_is_viewable "$1"
}

# grown_from WxH: the window is now wider and taller than that.
grown_from() {
    local now
    now=$(xsession_window_size "$clock_wid")
    ((${now%x*} > ${1%x*} && ${now#*x} > ${1#*x}))
}

# ----------------------------------------------------------------------------
# the clock window, seen from outside
# ----------------------------------------------------------------------------

if start_clock main; then
    wid=$clock_wid

    expect_eq "the window belongs to the started process" "$clock_pid" \
        "$(xdotool getwindowpid "$wid" 2>/dev/null)"
    expect_eq "one window titled '$title'" 1 \
        "$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null \
           | while read -r id; do xdotool getwindowname "$id"; done | grep -cx "$title")"
    check "the window is mapped" xsession_is_viewable "$wid"
    check "the window manager manages it" is_managed "$wid"

    # Fixed size: the program asks for a minimum and a maximum equal to the
    # size it has, and the window manager offers no resizing.
    size=$(xsession_window_size "$wid")
    read -r min max <<<"$(xsession_size_hints "$wid")"
    echo "# window size $size, minimum '$min', maximum '$max'"
    expect_eq "the minimum size is the window's size" "$size" "$min"
    expect_eq "the maximum size is the window's size" "$size" "$max"
    actions=$(xprop -id "$wid" _NET_WM_ALLOWED_ACTIONS)
    for action in RESIZE MAXIMIZE_HORZ MAXIMIZE_VERT; do
        check "the window manager does not offer $action" \
            not_in "_NET_WM_ACTION_$action" "$actions"
    done
    check "the window manager offers CLOSE" has_word "_NET_WM_ACTION_CLOSE" "$actions"

    # Ask for a bigger window, then move it: once the move has been done the
    # resize request has been dealt with too.
    read -r x y <<<"$(xsession_window_position "$wid")"
    xdotool windowsize "$wid" $(( ${size%x*} + 200 )) $(( ${size#*x} + 150 ))
    timeout 3 xdotool windowmove --sync "$wid" $((x + 10)) $((y + 10)) >/dev/null 2>&1
    expect_eq "a request to resize the window is refused" "$size" "$(xsession_window_size "$wid")"

    # What it shows: the menu bar on top, the time below it, ticking.
    if xsession_poll 5 display_has_text; then
        pass "the time display below the menu bar is not blank"
    else
        fail "the time display below the menu bar is blank: $(in_display xsession_dark_pixels "") dark pixels"
    fi
    shot=$(capture)
    display=$(clock_display_geometry "$shot")
    colours=$(xsession_colours "$shot" "$display")
    check "the time display has text and background ($colours colours)" test "$colours" -ge 2
    # Above the time: the menu bar.
    menu_bar=$(awk -F'[x+]' '{ print $1 "x" $4 "+0+0" }' <<<"$display")
    menu_dark=$(xsession_dark_pixels "$shot" "$menu_bar")
    check "the menu bar shows its title ($menu_dark dark pixels)" test "$menu_dark" -ge 10
    check "the time shown changes" display_changes

    # Toiminnot > Info: a message box of its own, over the clock.
    if clock_menu_key 3 && info=$(xsession_wait_for_window "$info_title" 10); then
        pass "Toiminnot > Info opens a window titled '$info_title'"
        transient=$(xprop -id "$info" WM_TRANSIENT_FOR | grep -o '0x[0-9a-f]*')
        expect_eq "the info box belongs to the clock window" "$(printf '0x%x' "$wid")" "$transient"
        xsession_activate "$info"
        xdotool key Return
        check "Return closes the info box" xsession_wait_for_no_window "$info_title" 5
        check "the clock is still running after the info box" running "$clock_pid"
        check "the time shown changes after the info box" display_changes
    else
        fail "Toiminnot > Info opens a window titled '$info_title'"
        # Whatever did open instead is in the way of what follows.
        xdotool key Escape
    fi

    # Toiminnot > Tausta: the colour chosen is behind the time and stays there
    # as the time changes; a cancelled choice changes nothing.
    blue='#0000FF'
    if clock_menu_key 2 && dialog=$(xsession_wait_for_window "$background_title" 10); then
        pass "Toiminnot > Tausta opens a window titled '$background_title'"
        xsession_activate "$dialog"
        xdotool key Escape
        check "Escape closes the colour dialog" \
            xsession_wait_for_no_window "$background_title" 5
        expect_eq "a cancelled colour changes nothing" 0 "$(colour_pixels "$blue")"
    else
        fail "Toiminnot > Tausta opens a window titled '$background_title'"
        xdotool key Escape
    fi
    if clock_menu_key 2 && dialog=$(xsession_wait_for_window "$background_title" 10); then
        clock_choose_colour "$dialog" "$blue"
        check "Select closes the colour dialog" \
            xsession_wait_for_no_window "$background_title" 5
        check "the chosen colour shows behind the time" xsession_poll 3 shows_colour "$blue"
        check "the time shown changes in the new colours" display_changes
        check "the colour stays as the time changes" shows_colour "$blue"
    else
        fail "Toiminnot > Tausta opens its dialog a second time"
        xdotool key Escape
    fi

    # Toiminnot > Fontti: a cancelled choice changes nothing; a bigger font
    # in red makes the window grow to fit the time, and keep its new size.
    red='#FF0000'
    size_before=$(xsession_window_size "$wid")
    if clock_menu_key 1 && dialog=$(clock_wait_for_dialog 10); then
        pass "Toiminnot > Fontti opens a dialog over the clock"
        xsession_activate "$dialog"
        xdotool key Escape
        check "Escape closes the font dialog" xsession_poll 5 gone_window "$dialog"
        check "a cancelled font asks for no colour" clock_no_dialog
        expect_eq "a cancelled font leaves the size as it was" "$size_before" "$(xsession_window_size "$wid")"
    else
        fail "Toiminnot > Fontti opens a dialog over the clock"
        xdotool key Escape
    fi
    if clock_menu_key 1 && dialog=$(clock_wait_for_dialog 10); then
        clock_choose_font "$dialog" 'DejaVu Sans Mono Bold' 24
        if colour_dialog=$(xsession_wait_for_window "$text_colour_title" 10); then
            pass "choosing a font asks for the text colour in '$text_colour_title'"
            clock_choose_colour "$colour_dialog" "$red"
            check "Select closes the text colour dialog" \
                xsession_wait_for_no_window "$text_colour_title" 5
        else
            fail "choosing a font asks for the text colour in '$text_colour_title'"
            xdotool key Escape
        fi
        check "the window grows for the bigger font" \
            xsession_poll 3 grown_from "$size_before"
        size=$(xsession_window_size "$wid")
        read -r min max <<<"$(xsession_size_hints "$wid")"
        echo "# window size now $size"
        expect_eq "the new minimum size is the window's size" "$size" "$min"
        expect_eq "the new maximum size is the window's size" "$size" "$max"
        check "the time shows in the chosen colour" xsession_poll 3 shows_colour "$red"
        check "the background chosen before stays" shows_colour "$blue"
        check "the time shown changes in the new font" display_changes
        check "the text colour stays as the time changes" shows_colour "$red"
    else
        fail "Toiminnot > Fontti opens its dialog a second time"
        xdotool key Escape
    fi

    # Closed by the window manager, as its close command does.
    wmctrl -i -c "$wid"
    expect_exit "closed by the window manager"
fi

# ----------------------------------------------------------------------------
# the other ways a person ends the clock
# ----------------------------------------------------------------------------

close_with_alt_f4() {
    xsession_activate "$clock_wid" && xdotool key alt+F4
}

# The close button sits at the right end of openbox's title bar.
close_with_close_box() {
    xsession_click_title_button "$clock_wid" 1
}

close_with_menu() {
    # Sulje is the last item of Toiminnot.
    clock_menu_key -1
}

close_with_menu_and_mouse() {
    clock_menu_click Sulje
}

close_cases=(
    "Alt+F4|close_with_alt_f4"
    "the close box|close_with_close_box"
    "Toiminnot > Sulje|close_with_menu"
    "Toiminnot > Sulje chosen with the mouse|close_with_menu_and_mouse"
)

for case in "${close_cases[@]}"; do
    name=${case%%|*}
    action=${case#*|}
    start_clock "${action}" || continue
    if "$action"; then
        expect_exit "closed with $name"
    else
        fail "closed with $name: could not do it"
        xsession_stop_process "$clock_pid"
    fi
done

e2e_finish
