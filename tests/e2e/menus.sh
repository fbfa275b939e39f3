#!/usr/bin/env bash
#
# End-to-end: the menu Toiminnot and its commands, opened from the keyboard
# and with the mouse, in the real noksu binary in a private X session. What
# the menu and the info box say is read from the screen (tesseract), the
# colours and the time from pictures of the clock.
#
# Usage: menus.sh PATH/TO/noksu
#
# Prints "ok - ..." / "not ok - ..." for each check and a closing
# "N passed, N failed" line; exits non-zero if any check failed.

set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=xsession.sh
source "$here/xsession.sh"

e2e_begin "$@"
work=$XSESSION_DIR

# The menu's items, top to bottom, as a person reads them.
menu_items="Fontti Tausta Info Sulje"

# menu_reads MENU: the labels of the open menu, top to bottom, on one line.
menu_reads() {
    local shot=$work/menu-read.png
    xsession_capture "$1" "$shot" && xsession_read_lines "$shot" | xargs
}

menu_shows_items() {
    [[ $(menu_reads "$1") == "$menu_items" ]]
}

menu_closed() {
    ! xsession_popup_of "$clock_pid" >/dev/null
}

# expect_menu NAME MENU: the open menu lists the four commands in order.
expect_menu() {
    if xsession_poll 3 menu_shows_items "$2"; then
        pass "$1 lists $menu_items"
    else
        fail "$1 lists $menu_items: it reads '$(menu_reads "$2")'"
    fi
}

gone_window() {
    ! xsession_is_viewable "$1"
}

# larger_than WxH: the clock window is now wider and taller than that.
larger_than() {
    local now
    now=$(xsession_window_size "$clock_wid")
    ((${now%x*} > ${1%x*} && ${now#*x} > ${1#*x}))
}

# smaller_than WxH: the clock window is now narrower and lower than that.
smaller_than() {
    local now
    now=$(xsession_window_size "$clock_wid")
    ((${now%x*} < ${1%x*} && ${now#*x} < ${1#*x}))
}

# ----------------------------------------------------------------------------
# opening the menu
# ----------------------------------------------------------------------------

if start_clock menu; then
    # From the keyboard: F10 opens the menu bar's menu; Escape closes it.
    xsession_activate "$clock_wid"
    xdotool key F10
    if menu=$(xsession_poll 3 xsession_popup_of "$clock_pid" | tail -n 1) && [[ -n $menu ]]; then
        pass "F10 opens the menu"
        expect_menu "the menu opened with F10" "$menu"
        xdotool key Escape
        check "Escape closes the menu" xsession_poll 3 menu_closed
    else
        fail "F10 opens the menu"
    fi

    # With the mouse: a click on the title Toiminnot opens it; a click
    # elsewhere, on the desktop in the corner of the screen, closes it and
    # does nothing else.
    if menu=$(clock_open_menu_with_mouse); then
        pass "a click on Toiminnot opens the menu"
        expect_menu "the menu opened with the mouse" "$menu"
        xdotool mousemove 5 5 click 1
        check "a click outside the menu closes it" xsession_poll 3 menu_closed
        check "a click outside the menu opens no dialog" clock_no_dialog
    else
        fail "a click on Toiminnot opens the menu"
    fi
    expect_ticking "after the menu was opened and closed"
    clock_menu_key -1
    expect_exit "closed after the menu"
fi

# ----------------------------------------------------------------------------
# Info: opened from the keyboard or with the mouse, dismissed in every way a
# person would
# ----------------------------------------------------------------------------

info_says="Noksu 1.1 by Ukko Viisari"

open_info_with_keyboard() {
    clock_menu_key 3
}

open_info_with_mouse() {
    clock_menu_click Info
}

dismiss_with_escape() {
    xsession_activate "$1" && xdotool key Escape
}

dismiss_with_space() {
    xsession_activate "$1" && xdotool key space
}

dismiss_with_close_box() {
    xsession_click_title_button "$1" 1
}

dismiss_with_ok_button() {
    local shot=$work/info-ok.png x y
    xsession_capture "$1" "$shot" || return 1
    read -r x y <<<"$(xsession_find_word "$shot" OK)"
    [[ -n $y ]] && xdotool mousemove --window "$1" "$x" "$y" click 1
}

info_reads() {
    local shot=$work/info-read.png
    xsession_capture "$1" "$shot" && xsession_read_lines "$shot" | head -n 1
}

info_shows_text() {
    [[ $(info_reads "$1") == "$info_says" ]]
}

# Each case: how the box is opened, how it is dismissed. Return is in the
# smoke test.
info_cases=(
    "from the keyboard|open_info_with_keyboard|Escape|dismiss_with_escape"
    "with the mouse|open_info_with_mouse|the close box|dismiss_with_close_box"
    "with the mouse|open_info_with_mouse|a click on OK|dismiss_with_ok_button"
    "from the keyboard|open_info_with_keyboard|Space|dismiss_with_space"
)

if start_clock info; then
    first=yes
    for case in "${info_cases[@]}"; do
        IFS='|' read -r opened open dismissed dismiss <<<"$case"
        name="Info $opened, dismissed with $dismissed"
        if ! "$open" || ! info=$(xsession_wait_for_window NoksuInfo 10); then
            fail "$name: no window titled NoksuInfo"
            xdotool key Escape
            continue
        fi
        pass "$name: a window titled NoksuInfo opens"
        if xsession_poll 3 info_shows_text "$info"; then
            pass "$name: it says '$info_says'"
        else
            fail "$name: it says '$(info_reads "$info")'"
        fi
        if [[ -n $first ]]; then
            # The box stands over the clock: moved aside, it shows the clock
            # going on behind it.
            first=""
            xsession_drag_title "$info" 0 200
            expect_ticking "$name: with the box open"
        fi
        "$dismiss" "$info"
        check "$name: the box is gone" xsession_wait_for_no_window NoksuInfo 5
        check "$name: the clock still runs" clock_running
        expect_time "$name: after it, the time shown is the system's"
    done
    clock_menu_key -1
    expect_exit "closed after the info boxes"
fi

# The clock's close box clicked while the info box is open: GTK keeps the
# clock from closing under its modal box, or the clock may end then; either
# way cleanly, never killed or stuck.
if start_clock close-under-info; then
    if open_info_with_keyboard && info=$(xsession_wait_for_window NoksuInfo 10); then
        xsession_drag_title "$info" 0 200
        xsession_click_title_button "$clock_wid" 1
        if xsession_wait_for_exit "$clock_pid" 2; then
            expect_eq "closed under its info box: the clock ends with status 0" 0 \
                "$XSESSION_EXIT_STATUS"
            check "closed under its info box: nothing alarming on stderr" \
                stderr_is_clean "$clock_err"
        else
            echo "# the close box does nothing while the info box is open"
            dismiss_with_escape "$info"
            check "closed under its info box: then the box is dismissed" \
                xsession_wait_for_no_window NoksuInfo 5
            expect_ticking "closed under its info box: then"
            clock_menu_key -1
            expect_exit "closed under its info box: then closed with Sulje"
        fi
    else
        fail "Info from the keyboard opens a window titled NoksuInfo"
    fi
fi

# ----------------------------------------------------------------------------
# Tausta and Fontti with the mouse
# ----------------------------------------------------------------------------

green='#00A000'
dark_red='#B00000'

# colour_pixels_in #RRGGBB left|right: pixels in that colour in that half of
# the time display.
colour_pixels_in() {
    local shot=$work/colours.png geometry
    clock_capture "$shot" || return 1
    geometry=$(clock_display_geometry "$shot" "$2") || return 1
    xsession_colour_pixels "$shot" "$geometry" "$1"
}

# shows_colour #RRGGBB: the colour is all along the time display, on the left
# as well as on the right.
shows_colour() {
    local left right
    left=$(colour_pixels_in "$1" left) && right=$(colour_pixels_in "$1" right) \
        && ((left >= 50 && right >= 50))
}

if start_clock styles; then
    if clock_menu_click Tausta && dialog=$(xsession_wait_for_window Taustaväri 10); then
        pass "Tausta chosen with the mouse opens the colour dialog"
        clock_choose_colour "$dialog" "$green"
        check "Select closes the colour dialog" xsession_wait_for_no_window Taustaväri 5
        check "the background behind the time is $green" xsession_poll 3 shows_colour "$green"
        expect_time "on $green, the time shown is the system's, in black"
    else
        fail "Tausta chosen with the mouse opens the colour dialog"
        xdotool key Escape
    fi

    size_before=$(xsession_window_size "$clock_wid")
    if clock_menu_click Fontti && dialog=$(clock_wait_for_dialog 10); then
        pass "Fontti chosen with the mouse opens the font dialog"
        clock_choose_font "$dialog" 'DejaVu Sans Bold' 20
        if colour_dialog=$(xsession_wait_for_window 'Tekstin väri' 10); then
            pass "choosing a font asks for the text colour"
            clock_choose_colour "$colour_dialog" "$dark_red"
            check "Select closes the text colour dialog" \
                xsession_wait_for_no_window 'Tekstin väri' 5
        else
            fail "choosing a font asks for the text colour"
            xdotool key Escape
        fi
        xsession_poll 3 larger_than "$size_before"
        size=$(xsession_window_size "$clock_wid")
        check "the window is larger for the bigger font ($size_before to $size)" \
            larger_than "$size_before"
        expect_eq "its size hints are its new size" "$size $size" "$(xsession_size_hints "$clock_wid")"
        expect_time "in the new font, the time shown is the system's, in $dark_red" "$dark_red"
        check "the background stays $green" shows_colour "$green"
    else
        fail "Fontti chosen with the mouse opens the font dialog"
        xdotool key Escape
    fi

    # A font chosen, its colour dialog cancelled: the new font in the colour
    # the text had.
    size_before=$(xsession_window_size "$clock_wid")
    if clock_menu_key 1 && dialog=$(clock_wait_for_dialog 10); then
        clock_choose_font "$dialog" 'DejaVu Sans Bold' 14
        if colour_dialog=$(xsession_wait_for_window 'Tekstin väri' 10); then
            xsession_activate "$colour_dialog"
            xdotool key Escape
            check "Escape closes the text colour dialog" \
                xsession_wait_for_no_window 'Tekstin väri' 5
        else
            fail "a second font asks for the text colour"
        fi
        check "the window is smaller for the smaller font" xsession_poll 3 smaller_than "$size_before"
        expect_time "with the text colour cancelled, the time shown is still in $dark_red" "$dark_red"
        check "the background stays $green" shows_colour "$green"
    else
        fail "Fontti opens the font dialog a second time"
        xdotool key Escape
    fi
    clock_menu_click Sulje
    expect_exit "closed with the mouse after Tausta and Fontti"
fi

# ----------------------------------------------------------------------------
# Fontti confirmed with no font picked
# ----------------------------------------------------------------------------

# Return pressed in the font dialog's search field before the list has
# followed what was typed confirms the dialog without a font: the clock takes
# no font from it and asks for no colour. wxGTK itself complains on stderr as
# it builds the font it hands back; nothing else alarming may appear there.
toolkit_complaint="^\(noksu:[0-9]+\): Pango-CRITICAL \*\*: [0-9:.]+: pango_font_description_get_[a-z_]+: assertion 'desc != NULL' failed$"

# What was typed into the search field: a family's name in part, and a name
# no font has.
typed_cases=("Mono Bold" "zzzz")

if start_clock no-font; then
    size_before=$(xsession_window_size "$clock_wid")
    for typed in "${typed_cases[@]}"; do
        name="the font dialog confirmed with '$typed' typed"
        if ! clock_menu_key 1 || ! dialog=$(clock_wait_for_dialog 10); then
            fail "$name: Fontti opens the font dialog"
            xdotool key Escape
            continue
        fi
        xsession_activate "$dialog"
        xdotool type "$typed"
        xdotool key Return
        check "$name: it closes" xsession_poll 5 gone_window "$dialog"
        # A colour dialog would come at once; give it time to.
        sleep 1
        if clock_no_dialog; then
            pass "$name: no colour dialog follows"
        else
            fail "$name: no colour dialog follows"
            xsession_activate "$(clock_find_dialog)" && xdotool key Escape
        fi
        expect_eq "$name: the window keeps its size" "$size_before" \
            "$(xsession_window_size "$clock_wid")"
        expect_ticking "$name: the time in black, as before"
    done
    clock_menu_key -1
    if xsession_wait_for_exit "$clock_pid" "$E2E_EXIT_TIMEOUT"; then
        expect_eq "closed after no font: exit status" 0 "$XSESSION_EXIT_STATUS"
    else
        fail "closed after no font: still running ${E2E_EXIT_TIMEOUT}s later"
        xsession_stop_process "$clock_pid"
    fi
    echo "# the toolkit's complaints: $(grep -cE "$toolkit_complaint" "$clock_err")"
    grep -vE "$toolkit_complaint" "$clock_err" >"$work/no-font-rest.err"
    if stderr_is_clean "$work/no-font-rest.err"; then
        pass "closed after no font: nothing alarming on stderr but the toolkit's complaint"
    else
        fail "closed after no font: nothing alarming on stderr but the toolkit's complaint"
        show_file "stderr" "$work/no-font-rest.err"
    fi
fi

e2e_finish
