#!/usr/bin/env bash
#
# End-to-end: the clock window in a person's hands. Every way the window
# manager (openbox) offers to resize or maximise it leaves its size as it
# is, and it minimises and comes back with the clock still going. Each way is
# also tried on a window that can be resized (xmessage), which it must
# resize: a way that does nothing at all would prove nothing. Typing into the
# time changes nothing.
#
# Usage: window.sh PATH/TO/noksu
#
# Prints "ok - ..." / "not ok - ..." for each check and a closing
# "N passed, N failed" line; exits non-zero if any check failed.

set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=xsession.sh
source "$here/xsession.sh"

e2e_begin "$@"

# ----------------------------------------------------------------------------
# resizing and maximising
# ----------------------------------------------------------------------------

# Each way takes the window's id.

# openbox resizes a window dragged with Alt and the right mouse button.
resize_with_alt_right_drag() {
    local x y size
    read -r x y <<<"$(xsession_window_position "$1")"
    size=$(xsession_window_size "$1")
    xdotool mousemove $((x + ${size%x*} - 5)) $((y + ${size#*x} - 5))
    xdotool keydown alt mousedown 3
    sleep 0.1
    xdotool mousemove_relative -- 20 20
    sleep 0.1
    xdotool mousemove_relative -- 150 100
    sleep 0.1
    xdotool mouseup 3 keyup alt
}

maximise_with_button() {
    xsession_click_title_button "$1" 2
}

maximise_with_double_click() {
    local buttons icon iconify y
    buttons=$(xsession_title_buttons "$1") || return 1
    # On the title, between the window's icon and the iconify button.
    read -r icon y <<<"$(head -n 1 <<<"$buttons")"
    read -r iconify _ <<<"$(tail -n 3 <<<"$buttons" | head -n 1)"
    xdotool mousemove $(((icon + iconify) / 2)) "$y" click --repeat 2 --delay 80 1
}

# What a pager or a panel asks the window manager for.
maximise_by_request() {
    wmctrl -i -r "$1" -b add,maximized_vert,maximized_horz
}

fullscreen_by_request() {
    wmctrl -i -r "$1" -b add,fullscreen
}

# settle WID: returns once the window manager has dealt with all that came
# before: a move is asked for and waited for, then the window moved back.
settle() {
    local x y
    read -r x y <<<"$(xsession_window_position "$1")"
    timeout 3 xdotool windowmove --sync "$1" $((x + 10)) $((y + 10)) >/dev/null 2>&1
    timeout 3 xdotool windowmove --sync "$1" "$x" "$y" >/dev/null 2>&1
    # The program answers a new size in its own time.
    sleep 0.3
}

# restore WID: back to how it was, for the next way to start from there.
restore() {
    wmctrl -i -r "$1" -b remove,maximized_vert,maximized_horz,fullscreen
}

# The control: a window that can be resized.
start_control() {
    xsession_launch /dev/null "$XSESSION_DIR/control.err" \
        xmessage -name control -title Control "A window that can be resized"
    control_pid=$!
    control=$(xsession_wait_for_window Control 30)
}

# Each case: what a person does, how.
resize_cases=(
    "a drag with Alt and the right button|resize_with_alt_right_drag"
    "a click on the maximise button|maximise_with_button"
    "a double click on the title|maximise_with_double_click"
    "a request to maximise|maximise_by_request"
    "a request to go full screen|fullscreen_by_request"
)

# The control is no part of what is tested: one that did not show its window
# is started again, once, after saying what became of it.
control_failed() {
    show_file "its stderr" "$XSESSION_DIR/control.err"
    if kill -0 "$control_pid" 2>/dev/null; then
        echo "# it runs; windows named Control: $(xdotool search --name Control | xargs)"
    else
        wait "$control_pid"
        echo "# it ended with status $?"
    fi
    xsession_stop_process "$control_pid"
}
if ! start_control; then
    echo "# the control window xmessage did not start; once more"
    control_failed
    start_control || {
        fail "the control window xmessage does not start"
        control_failed
    }
fi
if start_clock resize; then
    size=$(xsession_window_size "$clock_wid")
    for case in "${resize_cases[@]}"; do
        IFS='|' read -r name way <<<"$case"
        if [[ -n ${control:-} ]]; then
            control_size=$(xsession_window_size "$control")
            xsession_activate "$control"
            "$way" "$control"
            settle "$control"
            now=$(xsession_window_size "$control")
            check "$name resizes a window that can be resized ($control_size to $now)" \
                test "$now" != "$control_size"
            restore "$control"
            settle "$control"
            # Back to its size for the next way.
            xdotool windowsize "$control" "${control_size%x*}" "${control_size#*x}"
        fi
        xsession_activate "$clock_wid"
        "$way" "$clock_wid"
        settle "$clock_wid"
        expect_eq "$name leaves the clock's size as it was" "$size" \
            "$(xsession_window_size "$clock_wid")"
        restore "$clock_wid"
    done
    expect_time "after all that, the time shown is the system's"
    clock_menu_key -1
    expect_exit "closed after the resizing"
fi
[[ -n ${control_pid:-} ]] && xsession_stop_process "$control_pid"

# ----------------------------------------------------------------------------
# minimising and restoring
# ----------------------------------------------------------------------------

minimise_with_button() {
    xsession_click_title_button "$clock_wid" 3
}

# What a pager or a panel asks the window manager for.
minimise_by_request() {
    xdotool windowminimize "$clock_wid"
}

restore_with_alt_tab() {
    xdotool key alt+Tab
}

# A click on the window in a task bar: the window manager is asked to make it
# the active one.
restore_by_request() {
    wmctrl -i -a "$clock_wid"
}

is_iconic() {
    ! xsession_is_viewable "$clock_wid" \
        && xprop -id "$clock_wid" WM_STATE 2>/dev/null | grep -q 'window state: Iconic'
}

clock_shows_the_time() {
    local before after text
    read -r before after text <<<"$(clock_read_time)"
    [[ -n $before ]] && clock_time_matches "$before" "$after" "$text"
}

# Each case: minimised how, restored how.
minimise_cases=(
    "the iconify button|minimise_with_button|Alt+Tab|restore_with_alt_tab"
    "a request|minimise_by_request|a task bar's request|restore_by_request"
)

if start_clock minimise; then
    size=$(xsession_window_size "$clock_wid")
    for case in "${minimise_cases[@]}"; do
        IFS='|' read -r minimised minimise restored restore_way <<<"$case"
        name="minimised with $minimised, restored with $restored"
        xsession_activate "$clock_wid"
        "$minimise"
        if ! xsession_poll 3 is_iconic; then
            fail "$name: the window is minimised"
            continue
        fi
        pass "$name: the window is minimised"
        sleep 2
        check "$name: the clock runs on while minimised" clock_running
        "$restore_way"
        restored_at=$(xsession_now_us)
        if xsession_poll 3 xsession_is_viewable "$clock_wid"; then
            pass "$name: the window is back"
        else
            fail "$name: the window is back"
            continue
        fi
        expect_eq "$name: the window keeps its size" "$size" "$(xsession_window_size "$clock_wid")"
        if xsession_poll 1 clock_shows_the_time; then
            pass "$name: the time shown is the system's at once ($((($(xsession_now_us) - restored_at) / 1000)) ms)"
        else
            fail "$name: the time shown is not the system's a second later: $(clock_read_time | awk '{ print $3 }')"
        fi
        expect_ticking "$name: then"
    done
    clock_menu_key -1
    expect_exit "closed after minimising"
fi

# ----------------------------------------------------------------------------
# typing into the time
# ----------------------------------------------------------------------------

# The time can be selected, but not changed: whatever a person types or
# pastes into it, it goes on showing the time.
if start_clock typing; then
    read -r x y <<<"$(xsession_window_position "$clock_wid")"
    size=$(xsession_window_size "$clock_wid")
    xsession_activate "$clock_wid"
    # Into the time, near its bottom edge: below the menu bar whatever the
    # font.
    xdotool mousemove $((x + ${size%x*} / 2)) $((y + ${size#*x} - 6)) click 1
    xdotool key ctrl+a
    xdotool type '12:00'
    xdotool key Delete BackSpace Return ctrl+x ctrl+v
    # The middle button pastes what is selected: the time itself.
    xdotool click 2
    # A click leaves nothing selected, for the time to read as it is.
    xdotool click 1
    expect_ticking "typed into"
    expect_eq "typed into: the window keeps its size" "$size" "$(xsession_window_size "$clock_wid")"
    clock_menu_key -1
    expect_exit "closed after typing into it"
fi

e2e_finish
