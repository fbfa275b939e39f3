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

if [[ $# -ne 1 || ! -x $1 ]]; then
    echo "usage: $0 PATH/TO/noksu" >&2
    exit 2
fi
noksu=$1
# GTK's dialogs are driven by their English labels and mnemonics.
export LC_ALL=C.UTF-8
unset LANGUAGE
title=Noksu
info_title=NoksuInfo
background_title=Taustaväri
text_colour_title='Tekstin väri'

# How long the program gets to show its window: the first start on a new
# machine also builds the font cache.
window_timeout=30
# How long it gets to end once told to.
exit_timeout=5

passed=0
failed=0

pass() {
    passed=$((passed + 1))
    echo "ok - $*"
}

fail() {
    failed=$((failed + 1))
    echo "not ok - $*"
}

# check NAME COMMAND...: passes if COMMAND succeeds.
check() {
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}

# expect_eq NAME EXPECTED ACTUAL
expect_eq() {
    if [[ $2 == "$3" ]]; then
        pass "$1"
    else
        fail "$1: expected '$2', got '$3'"
    fi
}

running() {
    kill -0 "$1" 2>/dev/null
}

show_file() {
    local label=$1 file=$2
    [[ -s $file ]] || return 0
    echo "# $label:"
    sed 's/^/#   /' "$file"
}

# Output that means the program or the toolkit went wrong underneath, even
# when the window looks fine.
stderr_is_clean() {
    ! grep -Eiq 'critical|assert|error|segmentation|warning' "$1"
}

xsession_start 1024x768x24 || {
    echo "Bail out! no X session"
    exit 1
}
echo "# X session on $DISPLAY"
work=$XSESSION_DIR

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

    xsession_launch "$run_out" "$run_err" "$noksu" "$@"
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

# start_clock NAME: starts noksu and waits for its window. Sets clock_pid,
# clock_err and clock_wid (empty if no window came).
start_clock() {
    local name=$1
    clock_err=$work/$name.err
    clock_wid=""
    xsession_launch "$work/$name.out" "$clock_err" "$noksu"
    clock_pid=$!
    if clock_wid=$(xsession_wait_for_window "$title" "$window_timeout"); then
        return 0
    fi
    clock_wid=""
    fail "$name: no visible window titled '$title' within ${window_timeout}s"
    show_file "stderr" "$clock_err"
    return 1
}

# expect_exit NAME: the clock ends within exit_timeout with status 0, its
# window is gone, and it said nothing alarming on stderr.
expect_exit() {
    local name=$1
    if ! xsession_wait_for_exit "$clock_pid" "$exit_timeout"; then
        fail "$name: still running ${exit_timeout}s later"
        xsession_stop_process "$clock_pid"
        return 1
    fi
    expect_eq "$name: exit status" 0 "$XSESSION_EXIT_STATUS"
    check "$name: the window is gone" xsession_no_window "$title"
    if stderr_is_clean "$clock_err"; then
        pass "$name: nothing alarming on stderr"
    else
        fail "$name: stderr"
        show_file "stderr" "$clock_err"
    fi
}

is_viewable() {
    xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

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

window_size() {
    xwininfo -id "$1" | awk '/^ *Width:/ { w = $2 } /^ *Height:/ { h = $2 } END { print w "x" h }'
}

# The window manager's frame extents: left right top bottom.
frame_extents() {
    xprop -id "$1" _NET_FRAME_EXTENTS | grep -o '[0-9][0-9]*' | xargs
}

# The window's upper-left corner on the screen, without the frame: X Y.
window_position() {
    xwininfo -id "$1" | awk '/Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 } END { print x, y }'
}

# The GTK menu opened from the menu bar is a window of the program's own that
# bypasses the window manager.
menu_is_open() {
    local id
    for id in $(xdotool search --onlyvisible --pid "$clock_pid" 2>/dev/null); do
        xwininfo -id "$id" 2>/dev/null | grep -q 'Override Redirect State: yes' && return 0
    done
    return 1
}

# choose_from_menu DOWN_PRESSES: opens the menu Toiminnot with F10 and moves to
# an item with the arrow keys (a negative count goes up from the bottom), then
# presses Return.
choose_from_menu() {
    local moves=$1 key=Down
    if ((moves < 0)); then
        key=Up
        moves=$((-moves))
    fi
    xsession_activate "$clock_wid" || return 1
    xdotool key F10
    xsession_poll 5 menu_is_open || return 1
    local i
    for ((i = 0; i < moves; i++)); do
        xdotool key "$key"
    done
    xdotool key Return
}

# The part of the window below the menu bar, where the time is: its lower
# half; with "left" or "right", only that half of it.
display_geometry() {
    local size w h
    size=$(window_size "$1")
    w=${size%x*}
    h=${size#*x}
    case ${2:-} in
        left) echo "$((w / 2))x$((h / 2))+0+$((h - h / 2))" ;;
        right) echo "$((w - w / 2))x$((h / 2))+$((w / 2))+$((h - h / 2))" ;;
        *) echo "${w}x$((h / 2))+0+$((h - h / 2))" ;;
    esac
}

menu_bar_geometry() {
    local size w h
    size=$(window_size "$1")
    w=${size%x*}
    h=${size#*x}
    echo "${w}x$((h / 2))+0+0"
}

shot_count=0
capture() {
    shot_count=$((shot_count + 1))
    local file=$work/shot-$shot_count.png
    xsession_capture "$clock_wid" "$file" && echo "$file"
}

dark_pixels_in_display() {
    local shot
    shot=$(capture) || return 1
    xsession_dark_pixels "$shot" "$(display_geometry "$clock_wid")"
}

display_has_text() {
    local dark
    dark=$(dark_pixels_in_display) || return 1
    ((dark >= 20))
}

display_hash() {
    local shot
    shot=$(capture) || return 1
    xsession_pixels_hash "$shot" "$(display_geometry "$clock_wid")"
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

# choose_colour DIALOG #RRGGBB: types the colour into GTK's colour dialog
# (Alt+N goes to its colour name) and presses its Select button, at the
# lower right corner; Return in the name only takes the colour in.
choose_colour() {
    local dialog=$1 colour=$2 size w h
    xsession_activate "$dialog" || return 1
    xdotool key alt+n ctrl+a
    xdotool type "$colour"
    xdotool key Return
    size=$(window_size "$dialog")
    w=${size%x*}
    h=${size#*x}
    xdotool mousemove --window "$dialog" $((w - 55)) $((h - 30)) click 1
}

# colour_pixels #RRGGBB [left|right]: in the time display, or that half of it.
colour_pixels() {
    local shot
    shot=$(capture) || return 1
    xsession_colour_pixels "$shot" "$(display_geometry "$clock_wid" "${2:-}")" "$1"
}

# shows_colour #RRGGBB: the colour is all along the time, the hours as well as
# the seconds: well over a few stray pixels in either half.
shows_colour() {
    local left right
    left=$(colour_pixels "$1" left) || return 1
    right=$(colour_pixels "$1" right) || return 1
    ((left >= 50 && right >= 50))
}

# A dialog of the clock's own: a managed window of its process, transient for
# the clock window. Prints its id.
find_dialog() {
    local id
    for id in $(xdotool search --onlyvisible --pid "$clock_pid" 2>/dev/null); do
        [[ $id == "$clock_wid" ]] && continue
        xwininfo -id "$id" 2>/dev/null | grep -q 'Override Redirect State: no' || continue
        if [[ $(xprop -id "$id" WM_TRANSIENT_FOR 2>/dev/null | grep -o '0x[0-9a-f]*') \
              == "$(printf '0x%x' "$clock_wid")" ]]; then
            echo "$id"
            return 0
        fi
    done
    return 1
}

wait_for_dialog() {
    local seconds=$1 found
    found=$(xsession_poll "$seconds" find_dialog) || return 1
    # The poll prints nothing for its failed tries: the last line is the id.
    tail -n 1 <<<"$found"
}

no_dialog() {
    ! find_dialog >/dev/null
}

gone_window() {
    ! xwininfo -id "$1" >/dev/null 2>&1 || ! is_viewable "$1"
}

# grown_from WxH: the window is now wider and taller than that.
grown_from() {
    local now
    now=$(window_size "$clock_wid")
    ((${now%x*} > ${1%x*} && ${now#*x} > ${1#*x}))
}

# choose_font DIALOG FAMILY SIZE: in GTK's font dialog, types FAMILY into its
# search field (focused when it opens), goes down into the list to the first
# match, over to the size field and back, and takes the font with Return.
choose_font() {
    local dialog=$1 family=$2 size=$3
    xsession_activate "$dialog" || return 1
    xdotool type "$family"
    # The search field filters the list a moment after the last key, and
    # shows nothing to wait for from outside.
    sleep 0.5
    xdotool key Down
    xdotool key Tab Tab Tab ctrl+a
    xdotool type "$size"
    xdotool key shift+Tab shift+Tab shift+Tab Return
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
    check "the window is mapped" is_viewable "$wid"
    check "the window manager manages it" is_managed "$wid"

    # Fixed size: the program asks for a minimum and a maximum equal to the
    # size it has, and the window manager offers no resizing.
    size=$(window_size "$wid")
    hints=$(xprop -id "$wid" WM_NORMAL_HINTS)
    min=$(sed -n 's/.*minimum size: \([0-9]*\) by \([0-9]*\).*/\1x\2/p' <<<"$hints")
    max=$(sed -n 's/.*maximum size: \([0-9]*\) by \([0-9]*\).*/\1x\2/p' <<<"$hints")
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
    read -r x y <<<"$(window_position "$wid")"
    xdotool windowsize "$wid" $(( ${size%x*} + 200 )) $(( ${size#*x} + 150 ))
    timeout 3 xdotool windowmove --sync "$wid" $((x + 10)) $((y + 10)) >/dev/null 2>&1
    expect_eq "a request to resize the window is refused" "$size" "$(window_size "$wid")"

    # What it shows: the menu bar on top, the time below it, ticking.
    if xsession_poll 5 display_has_text; then
        pass "the time display below the menu bar is not blank"
    else
        fail "the time display below the menu bar is blank: $(dark_pixels_in_display) dark pixels"
    fi
    shot=$(capture)
    colours=$(xsession_colours "$shot" "$(display_geometry "$wid")")
    check "the time display has text and background ($colours colours)" test "$colours" -ge 2
    menu_dark=$(xsession_dark_pixels "$shot" "$(menu_bar_geometry "$wid")")
    check "the menu bar shows its title ($menu_dark dark pixels)" test "$menu_dark" -ge 10
    check "the time shown changes" display_changes

    # Toiminnot > Info: a message box of its own, over the clock.
    if choose_from_menu 3 && info=$(xsession_wait_for_window "$info_title" 10); then
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
    if choose_from_menu 2 && dialog=$(xsession_wait_for_window "$background_title" 10); then
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
    if choose_from_menu 2 && dialog=$(xsession_wait_for_window "$background_title" 10); then
        choose_colour "$dialog" "$blue"
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
    size_before=$(window_size "$wid")
    if choose_from_menu 1 && dialog=$(wait_for_dialog 10); then
        pass "Toiminnot > Fontti opens a dialog over the clock"
        xsession_activate "$dialog"
        xdotool key Escape
        check "Escape closes the font dialog" xsession_poll 5 gone_window "$dialog"
        check "a cancelled font asks for no colour" no_dialog
        expect_eq "a cancelled font leaves the size as it was" "$size_before" "$(window_size "$wid")"
    else
        fail "Toiminnot > Fontti opens a dialog over the clock"
        xdotool key Escape
    fi
    if choose_from_menu 1 && dialog=$(wait_for_dialog 10); then
        choose_font "$dialog" 'DejaVu Sans Mono Bold' 24
        if colour_dialog=$(xsession_wait_for_window "$text_colour_title" 10); then
            pass "choosing a font asks for the text colour in '$text_colour_title'"
            choose_colour "$colour_dialog" "$red"
            check "Select closes the text colour dialog" \
                xsession_wait_for_no_window "$text_colour_title" 5
        else
            fail "choosing a font asks for the text colour in '$text_colour_title'"
            xdotool key Escape
        fi
        check "the window grows for the bigger font" \
            xsession_poll 3 grown_from "$size_before"
        size=$(window_size "$wid")
        hints=$(xprop -id "$wid" WM_NORMAL_HINTS)
        echo "# window size now $size"
        expect_eq "the new minimum size is the window's size" "$size" \
            "$(sed -n 's/.*minimum size: \([0-9]*\) by \([0-9]*\).*/\1x\2/p' <<<"$hints")"
        expect_eq "the new maximum size is the window's size" "$size" \
            "$(sed -n 's/.*maximum size: \([0-9]*\) by \([0-9]*\).*/\1x\2/p' <<<"$hints")"
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
    local _left right top _bottom x y w
    read -r _left right top _bottom <<<"$(frame_extents "$clock_wid")"
    read -r x y <<<"$(window_position "$clock_wid")"
    w=$(window_size "$clock_wid")
    w=${w%x*}
    [[ -n $top && $top -gt 0 ]] || return 1
    xdotool mousemove --sync $((x + w + right - top / 2 - 2)) $((y - top / 2)) click 1
}

close_with_menu() {
    # Sulje is the last item of Toiminnot.
    choose_from_menu -1
}

close_cases=(
    "Alt+F4|close_with_alt_f4"
    "the close box|close_with_close_box"
    "Toiminnot > Sulje|close_with_menu"
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

echo "$passed passed, $failed failed"
((failed == 0 && passed > 0))
