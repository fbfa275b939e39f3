#!/usr/bin/env bash
#
# End-to-end test of the Windows program: noksu.exe under Wine, in a private X
# session (Xvfb + openbox), used as a person would with the keyboard through
# the menu and the Windows common dialogs, and checked from outside: the
# executable itself, the window, the time it shows (read back with OCR), the
# colours and the size the dialogs give the display, and how it ends.
#
# Usage: wine_test.sh PATH/TO/noksu.exe
#
# The Wine prefix is kept beside the program (PATH/TO/wine-prefix, or
# $NOKSU_WINEPREFIX) and made on the first run. Needs Xvfb, openbox, xdotool,
# wmctrl, x11-utils, ImageMagick, tesseract-ocr, Wine (64-bit) and the
# MinGW-w64 binutils; scripts/windows/test installs them.
#
# Prints "ok - ..." / "not ok - ..." for each check and a closing
# "N passed, N failed" line; exits non-zero if any check failed.

set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../e2e/xsession.sh
source "$here/../e2e/xsession.sh"

if [[ $# -ne 1 || ! -f $1 ]]; then
    echo "usage: $0 PATH/TO/noksu.exe" >&2
    exit 2
fi
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
title=Noksu
info_title=NoksuInfo
info_text="Noksu 1.1 by Ukko Viisari"
background_title=Taustaväri
# Wine's own title for the font dialog, in English (see LC_ALL below).
font_title=Font

# Wine's dialogs in English, whatever the machine's language: the keys that
# drive them are the mnemonics of their English labels.
export LC_ALL=C.UTF-8
# The clock shows local time. Wine hands TZ on to Windows programs, whose C
# runtime reads it in its own format (a name like Europe/Helsinki is not
# understood there and silently means UTC), so the zone is given in the form
# both read alike: half an hour off a whole hour from UTC, and no summer time.
export TZ=IST-5:30

export WINEPREFIX=${NOKSU_WINEPREFIX:-$(dirname "$exe")/wine-prefix}
export WINEARCH=win64
export WINEDEBUG=-all
# No offers to install Mono or Gecko into the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="

# How long the program gets to show its window, and a dialog to come up.
window_timeout=60
dialog_timeout=20
# How long it gets to end once told to.
exit_timeout=15

# The checks and their closing line are the end-to-end tests' own (xsession.sh).

running() {
    kill -0 "$1" 2>/dev/null
}

show_file() {
    local label=$1 file=$2
    [[ -s $file ]] || return 0
    echo "# $label:"
    sed 's/^/#   /' "$file"
}

for tool in wine wineboot wineserver tesseract x86_64-w64-mingw32-objdump; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "Bail out! $tool is missing (scripts/windows/test installs it)"
        exit 1
    fi
done

xsession_start 1024x768x24 || {
    echo "Bail out! no X session"
    exit 1
}
echo "# X session on $DISPLAY, Wine prefix $WINEPREFIX"
work=$XSESSION_DIR

# ----------------------------------------------------------------------------
# Wine
# ----------------------------------------------------------------------------

# The prefix is made on the first run; later runs find it up to date.
started=$(date +%s)
mkdir -p "$(dirname "$WINEPREFIX")"
if ! timeout 300 wineboot -i >"$work/wineboot.log" 2>&1; then
    echo "Bail out! wineboot could not set up $WINEPREFIX"
    show_file "wineboot" "$work/wineboot.log"
    exit 1
fi
timeout 60 wineserver -w
# One Wine server for the whole test, ended with the X session: the programs
# start faster, and each one's exit status is its own.
xsession_launch "$work/wineserver.out" "$work/wineserver.err" wineserver -f -p
echo "# $(wine --version 2>/dev/null) ready after $(($(date +%s) - started))s"

# ----------------------------------------------------------------------------
# the executable
# ----------------------------------------------------------------------------

headers=$(x86_64-w64-mingw32-objdump -p "$exe" 2>/dev/null)
check "noksu.exe is a 64-bit Windows executable" grep -q 'file format pei-x86-64' <<<"$headers"
check "noksu.exe is a Windows GUI program (no console)" \
    grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]+\(Windows GUI\)' <<<"$headers"

# Linked statically: it needs no DLL besides those of Windows itself, which
# Wine has in the prefix's system folder. The C++ runtime, the thread library
# or wxWidgets as DLLs would not be found on a person's machine.
system32=$WINEPREFIX/drive_c/windows/system32
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr -d '\r')
foreign=()
for dll in $imports; do
    [[ -n $(find "$system32" -maxdepth 1 -iname "$dll" -print -quit) ]] || foreign+=("$dll")
done
expect_eq "noksu.exe imports only Windows' own DLLs (${imports//$'\n'/ })" "" "${foreign[*]}"

# ----------------------------------------------------------------------------
# helpers for the running clock
# ----------------------------------------------------------------------------

# start_clock NAME: starts noksu.exe and waits for its window. Sets clock_pid,
# clock_err and clock_wid (empty if no window came).
start_clock() {
    local name=$1
    clock_err=$work/$name.err
    clock_wid=""
    xsession_launch "$work/$name.out" "$clock_err" wine "$exe"
    clock_pid=$!
    if clock_wid=$(xsession_wait_for_window "$title" "$window_timeout"); then
        return 0
    fi
    clock_wid=""
    fail "$name: no visible window titled '$title' within ${window_timeout}s"
    show_file "stderr" "$clock_err"
    return 1
}

# expect_exit NAME: the clock ends within exit_timeout with status 0 and its
# window is gone.
expect_exit() {
    local name=$1
    if ! xsession_wait_for_exit "$clock_pid" "$exit_timeout"; then
        fail "$name: still running ${exit_timeout}s later"
        xsession_stop_process "$clock_pid"
        return 1
    fi
    expect_eq "$name: exit status" 0 "$XSESSION_EXIT_STATUS"
    check "$name: the window is gone" xsession_no_window "$title"
}

window_size() {
    xwininfo -id "$1" | awk '/^ *Width:/ { w = $2 } /^ *Height:/ { h = $2 } END { print w "x" h }'
}

size_differs_from() {
    [[ $(window_size "$clock_wid") != "$1" ]]
}

# The titles of the windows the window manager manages, one a line.
managed_titles() {
    wmctrl -l | cut -d' ' -f5-
}

# expect_only_the_clock NAME: no window but the clock's is open: no dialog
# left behind, no error or assertion message box.
expect_only_the_clock() {
    local titles
    titles=$(managed_titles)
    expect_eq "$1" "$title" "${titles//$'\n'/, }"
}

# expect_owned_by_clock NAME WID: the window is a dialog of the clock window.
expect_owned_by_clock() {
    local owner
    owner=$(xprop -id "$2" WM_TRANSIENT_FOR 2>/dev/null | grep -o '0x[0-9a-f]*')
    expect_eq "$1" "$(printf '0x%x' "$clock_wid")" "$owner"
}

# Wine's pop-up menus are windows of the program's own that bypass the window
# manager.
menu_is_open() {
    local id
    for id in $(xdotool search --onlyvisible --pid "$clock_pid" 2>/dev/null); do
        xwininfo -id "$id" 2>/dev/null | grep -q 'Override Redirect State: yes' && return 0
    done
    return 1
}

menu_is_closed() {
    ! menu_is_open
}

# The items of the menu Toiminnot, by the Down presses that reach each one
# once the menu is open on the first; the separator is skipped.
declare -A menu_item=([Fontti]=0 [Tausta]=1 [Info]=2 [Sulje]=3)

# choose_from_menu ITEM: opens the menu Toiminnot with F10 and Down, moves to
# ITEM with the arrow keys and presses Return.
choose_from_menu() {
    local moves=${menu_item[$1]}
    xsession_activate "$clock_wid" || return 1
    xdotool key F10 Down
    xsession_poll 5 menu_is_open || return 1
    local i
    for ((i = 0; i < moves; i++)); do
        xdotool key Down
    done
    xdotool key Return
    xsession_poll 5 menu_is_closed
}

# open_dialog ITEM TITLE: chooses ITEM from the menu and prints the id of the
# window TITLE that it opens.
open_dialog() {
    choose_from_menu "$1" && xsession_wait_for_window "$2" "$dialog_timeout"
}

# capture: a screenshot of the clock window's client area; prints its file,
# named after the time it was taken (captures run in subshells, which keep no
# count).
capture() {
    local file
    file=$work/shot-$(xsession_now_us).png
    xsession_capture "$clock_wid" "$file" && echo "$file"
}

# display_geometry IMAGE: the inside of the time display, as an ImageMagick
# crop geometry. Wine draws the menu bar inside the window; the display's
# frame starts at the first row below it that is all one colour.
display_geometry() {
    convert "$1" txt:- | awk -F'[,: ]+' '
        NR > 1 {
            x = $1; y = $2; colour = $0
            sub(/^[^#]*/, "", colour); sub(/ .*/, "", colour)
            if (!(y in first)) { first[y] = colour; same[y] = 1 }
            else if (first[y] != colour) same[y] = 0
            if (x > w) w = x
            if (y > h) h = y
        }
        END {
            for (y = 1; y <= h; y++)
                if (same[y] && first[y] != first[0]) {
                    # Inside the frame: one pixel in from each side.
                    printf "%dx%d+1+%d\n", w - 1, h - y - 1, y + 1
                    exit
                }
            exit 1
        }'
}

display_hash() {
    local shot geometry
    shot=$(capture) || return 1
    geometry=$(display_geometry "$shot") || return 1
    xsession_pixels_hash "$shot" "$geometry"
}

display_differs_from() {
    local now
    now=$(display_hash) || return 1
    [[ $now != "$1" ]]
}

# The time shown changes within a few seconds.
display_changes() {
    local before
    before=$(display_hash) || return 1
    xsession_poll 3 display_differs_from "$before"
}

# ocr IMAGE GEOMETRY [OPTIONS...]: the text read from that part of the image.
ocr() {
    local image=$1 geometry=$2
    shift 2
    local big=${image%.png}-ocr.png
    # Dark text on a light ground, four times as big, black on white with a
    # margin: what the OCR engine reads best.
    convert "$image" -crop "$geometry" +repage -colorspace Gray \
        -resize 400% -threshold 55% -bordercolor white -border 40 "$big" || return 1
    tesseract "$big" - "$@" 2>/dev/null
}

seconds_of_day() {
    local h m s
    IFS=: read -r h m s <<<"$1"
    echo $((10#$h * 3600 + 10#$m * 60 + 10#$s))
}

# shows_current_time: the display shows the local time of the system clock,
# give or take the second in which the screenshot was taken. Sets shown_time.
shows_current_time() {
    local before after shot geometry
    before=$(date +%T)
    shot=$(capture) || return 1
    after=$(date +%T)
    geometry=$(display_geometry "$shot") || return 1
    shown_time=$(ocr "$shot" "$geometry" --psm 7 -c tessedit_char_whitelist=0123456789: \
        | tr -d ' ' | grep -Eo '[0-9]{2}:[0-9]{2}:[0-9]{2}' | head -n 1)
    [[ -n $shown_time ]] || return 1
    local t b a
    t=$(seconds_of_day "$shown_time")
    b=$(seconds_of_day "$before")
    a=$(seconds_of_day "$after")
    # Across midnight the times wrap around.
    ((a < b)) && a=$((a + 86400))
    ((t < b - 1)) && t=$((t + 86400))
    ((t >= b - 1 && t <= a + 1))
}

# expect_current_time NAME: reads the display until it shows the current
# time: OCR may misread a digit now and then, a wrong clock never matches.
expect_current_time() {
    shown_time=""
    if xsession_poll 10 shows_current_time; then
        pass "$1 ($shown_time at $(date +%T), TZ=$TZ)"
    else
        fail "$1: read '$shown_time' at $(date +%T), TZ=$TZ"
    fi
}

# colour_pixels IMAGE GEOMETRY COLOUR: how many pixels there are exactly COLOUR.
colour_pixels() {
    convert "$1" -crop "$2" +repage -fill black +opaque "$3" -fill white -opaque "$3" \
        -colorspace Gray -format '%[fx:round(w*h*mean)]' info:
}

# display_colour_pixels COLOUR: the same for the display, now.
display_colour_pixels() {
    local shot geometry
    shot=$(capture) || return 1
    geometry=$(display_geometry "$shot") || return 1
    colour_pixels "$shot" "$geometry" "$1"
}

# display_has_colour COLOUR MIN: at least MIN pixels of the display are COLOUR.
display_has_colour() {
    local count
    count=$(display_colour_pixels "$1") || return 1
    ((count >= $2))
}

# The display as it starts: black, white and grey only (no colour chosen
# yet), and white also behind the time: in the box around the text (trimmed
# of the white around it), the strokes cover less than half.
display_is_black_on_white() {
    local shot geometry saturation white
    shot=$(capture) || return 1
    geometry=$(display_geometry "$shot") || return 1
    saturation=$(convert "$shot" -crop "$geometry" +repage -colorspace HSL \
        -channel G -separate +channel -format '%[fx:maxima]' info:)
    white=$(convert "$shot" -crop "$geometry" +repage -bordercolor white -border 1 \
        -trim +repage -fill black +opaque white -colorspace Gray \
        -format '%[fx:mean > 0.5]' info:)
    [[ $saturation == 0 && $white == 1 ]]
}

# The time sits in the middle of the display: the margins left and right of
# what is drawn differ by two pixels at most. Sets text_margins.
display_text_is_centred() {
    local shot geometry box width
    shot=$(capture) || return 1
    geometry=$(display_geometry "$shot") || return 1
    width=${geometry%%x*}
    # The bounding box of what differs from the display's corner colour.
    box=$(convert "$shot" -crop "$geometry" +repage -format '%@' info:)
    local box_width=${box%%x*} left
    left=${box#*+}
    left=${left%%+*}
    local right=$((width - left - box_width))
    text_margins="$left and $right pixels"
    ((left > 0 && right > 0 && left - right <= 2 && right - left <= 2))
}

# display_text_fills PERCENT: what is drawn in the display (the time on its
# background) is at least PERCENT of the display's width wide. Sets
# text_width.
display_text_fills() {
    local shot geometry box
    shot=$(capture) || return 1
    geometry=$(display_geometry "$shot") || return 1
    box=$(convert "$shot" -crop "$geometry" +repage -format '%@' info:)
    text_width="${box%%x*} of ${geometry%%x*} pixels"
    ((${box%%x*} * 100 >= ${geometry%%x*} * $1))
}

# press_in WID KEYS...: focuses the window, then presses the keys, one by one.
press_in() {
    local wid=$1
    shift
    xsession_activate "$wid" || return 1
    local key
    for key in "$@"; do
        xdotool key "$key"
    done
}

# type_in TEXT: types TEXT into the focused window.
type_in() {
    xdotool type --delay 40 -- "$1"
}

# ----------------------------------------------------------------------------
# the clock: window, time, menu, dialogs, Sulje
# ----------------------------------------------------------------------------

if start_clock main; then
    expect_eq "the window belongs to the started program" "$clock_pid" \
        "$(xdotool getwindowpid "$clock_wid" 2>/dev/null)"
    expect_only_the_clock "only the clock's window is open"

    # Neither resizable nor maximisable; movable, minimisable and closable.
    actions=$(xprop -id "$clock_wid" _NET_WM_ALLOWED_ACTIONS)
    for action in RESIZE:no MAXIMIZE_HORZ:no MAXIMIZE_VERT:no MOVE:yes MINIMIZE:yes CLOSE:yes; do
        offered=no
        grep -qw "_NET_WM_ACTION_${action%:*}" <<<"$actions" && offered=yes
        expect_eq "the window manager offers ${action%:*}: ${action#*:}" "${action#*:}" "$offered"
    done

    expect_current_time "the display shows the local time of the system clock"
    check "the time shown changes" display_changes
    check "the display is black on white at first" display_is_black_on_white
    text_margins=""
    if display_text_is_centred; then
        pass "the time is centred ($text_margins beside it)"
    else
        fail "the time is centred: $text_margins beside it"
    fi

    # Toiminnot > Info: a message box of its own, closed from the keyboard.
    for key in Return Escape; do
        if info=$(open_dialog Info "$info_title"); then
            pass "Toiminnot > Info opens a window titled '$info_title' (to close with $key)"
            expect_owned_by_clock "the info box is the clock's" "$info"
            xsession_capture "$info" "$work/info.png"
            said=$(ocr "$work/info.png" "$(convert "$work/info.png" -format '%wx%h+0+0' info:)" --psm 6)
            check "the info box says '$info_text'" grep -qF "$info_text" <<<"$said"
            press_in "$info" "$key"
            check "$key closes the info box" xsession_wait_for_no_window "$info_title" 5
            check "the time shown changes after the info box" display_changes
        else
            fail "Toiminnot > Info opens a window titled '$info_title' (to close with $key)"
            xdotool key Escape
        fi
    done

    # Cancelled dialogs change nothing.
    size=$(window_size "$clock_wid")
    for cancelled in "Tausta|$background_title" "Fontti|$font_title"; do
        item=${cancelled%%|*}
        dialog_title=${cancelled#*|}
        if dialog=$(open_dialog "$item" "$dialog_title"); then
            pass "Toiminnot > $item opens the dialog '$dialog_title'"
            expect_owned_by_clock "the dialog '$dialog_title' is the clock's" "$dialog"
            press_in "$dialog" Escape
            check "Escape closes the dialog '$dialog_title'" \
                xsession_wait_for_no_window "$dialog_title" 5
            expect_eq "after $item cancelled, the window keeps its size" "$size" \
                "$(window_size "$clock_wid")"
            check "after $item cancelled, the display is still black on white" \
                display_is_black_on_white
            expect_current_time "after $item cancelled, the display shows the time"
        else
            fail "Toiminnot > $item opens the dialog '$dialog_title'"
            xdotool key Escape
        fi
    done

    # Tausta: a yellow background, typed into the dialog's red, green and blue
    # fields. Wine's basic colours answer only to the mouse; on Windows the
    # arrow keys move among them too.
    yellow="#FFFF00"
    if dialog=$(open_dialog Tausta "$background_title"); then
        press_in "$dialog" alt+d
        press_in "$dialog" alt+r && type_in 255
        press_in "$dialog" alt+g && type_in 255
        press_in "$dialog" alt+b && type_in 0
        press_in "$dialog" Return
        check "Return closes the dialog '$background_title'" \
            xsession_wait_for_no_window "$background_title" 5
        if xsession_poll 5 display_has_colour "$yellow" 100; then
            pass "Tausta gives the time a yellow background"
        else
            fail "Tausta gives the time a yellow background: $(display_colour_pixels "$yellow") yellow pixels"
        fi
        expect_current_time "on yellow, the display shows the time"
        check "on yellow, the time shown changes" display_changes
    else
        fail "Toiminnot > Tausta opens the dialog '$background_title'"
        xdotool key Escape
    fi

    # Fontti: Tahoma (Wine's own font), 36 points, maroon: the first colour
    # after black in the dialog's list.
    maroon="#800000"
    size=$(window_size "$clock_wid")
    if dialog=$(open_dialog Fontti "$font_title"); then
        press_in "$dialog" alt+f && type_in Tahoma
        press_in "$dialog" alt+s && type_in 36
        press_in "$dialog" alt+c Down
        press_in "$dialog" Return
        check "Return closes the dialog '$font_title'" xsession_wait_for_no_window "$font_title" 5
        xsession_poll 5 size_differs_from "$size"
        grown=$(window_size "$clock_wid")
        if ((${grown%x*} > ${size%x*} && ${grown#*x} > ${size#*x})); then
            pass "a 36-point font makes the window wider and taller ($size -> $grown)"
        else
            fail "a 36-point font makes the window wider and taller ($size -> $grown)"
        fi
        # The new size is as fixed as the old one.
        hints=$(xprop -id "$clock_wid" WM_NORMAL_HINTS)
        expect_eq "the window's smallest size is its new size" "$grown" \
            "$(sed -n 's/.*minimum size: \([0-9]*\) by \([0-9]*\).*/\1x\2/p' <<<"$hints")"
        expect_eq "the window's largest size is its new size" "$grown" \
            "$(sed -n 's/.*maximum size: \([0-9]*\) by \([0-9]*\).*/\1x\2/p' <<<"$hints")"
        if xsession_poll 5 display_has_colour "$maroon" 200; then
            pass "Fontti makes the time maroon"
        else
            fail "Fontti makes the time maroon: $(display_colour_pixels "$maroon") maroon pixels"
        fi
        check "the background stays yellow after Fontti" display_has_colour "$yellow" 1000
        text_margins=""
        if display_text_is_centred; then
            pass "in the new font, the time is centred ($text_margins beside it)"
        else
            fail "in the new font, the time is centred: $text_margins beside it"
        fi
        # The display is sized for the widest time in the chosen font, and
        # Tahoma's digits are all as wide: the time drawn in that font fills
        # it but for the margins. Drawn in another size than the one the
        # window was sized for, it would not.
        text_width=""
        if display_text_fills 90; then
            pass "the time fills the display sized for its font ($text_width)"
        else
            fail "the time fills the display sized for its font: $text_width"
        fi
        expect_current_time "in the new font, the display shows the time"
        check "in the new font, the time shown changes" display_changes
    else
        fail "Toiminnot > Fontti opens the dialog '$font_title'"
        xdotool key Escape
    fi

    expect_only_the_clock "only the clock's window is open before Sulje"
    if choose_from_menu Sulje; then
        expect_exit "closed with Toiminnot > Sulje"
    else
        fail "closed with Toiminnot > Sulje: could not choose it"
        xsession_stop_process "$clock_pid"
    fi
fi

# ----------------------------------------------------------------------------
# closed by the window manager
# ----------------------------------------------------------------------------

if start_clock wm-close; then
    wmctrl -i -c "$clock_wid"
    expect_exit "closed by the window manager"
fi

# What the test saw, for a look afterwards: kept when a check failed, or
# always with NOKSU_KEEP_SHOTS=1.
if ((e2e_failed > 0)) || [[ ${NOKSU_KEEP_SHOTS:-} == 1 ]]; then
    shots_dir=$(dirname "$exe")/wine-test-shots
    rm -rf -- "$shots_dir"
    mkdir -p "$shots_dir"
    cp "$work"/*.png "$work"/*.err "$work"/*.log "$shots_dir"/ 2>/dev/null
    echo "# screenshots, logs and the programs' stderr are in $shots_dir"
fi

e2e_finish
