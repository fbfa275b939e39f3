# shellcheck shell=bash
#
# A private X session for driving Noksu from outside: an Xvfb server on a
# free display with openbox managing its windows, torn down when the shell
# that sourced this file exits.
#
# Used by the end-to-end tests and by scripts/run-clock. Source it, then call
# xsession_start. The functions also work under set -e. Needs bash 5
# (EPOCHREALTIME), Xvfb, openbox, xdotool, wmctrl, x11-utils and ImageMagick;
# reading text on the screen needs tesseract.
#
# Besides the session: windows as the window manager sees them, reading the
# screen, driving the clock (its menu and dialogs, reading its time), and the
# checks and report of the test scripts.

# shellcheck disable=SC2034 # the state below is for the sourcing script too
XSESSION_DIR=""
XSESSION_XVFB_PID=""
XSESSION_WM_PID=""
# Programs started in the session, ended at exit if they are still running.
XSESSION_PIDS=()
# Set by xsession_wait_for_exit.
XSESSION_EXIT_STATUS=""

xsession_log() {
    printf '%s\n' "$*" >&2
}

# Microseconds since the epoch, for deadlines finer than a second.
xsession_now_us() {
    local now=${EPOCHREALTIME/[.,]/}
    printf '%s\n' "$((10#$now))"
}

# xsession_poll SECONDS COMMAND...: runs COMMAND every tenth of a second until
# it succeeds (returns 0) or SECONDS have passed (returns 1).
xsession_poll() {
    local seconds=$1
    shift
    local deadline=$(( $(xsession_now_us) + seconds * 1000000 ))
    while true; do
        "$@" && return 0
        (( $(xsession_now_us) >= deadline )) && return 1
        sleep 0.1
    done
}

xsession_check_tools() {
    local tool missing=()
    for tool in Xvfb openbox xdotool wmctrl xprop xwininfo import convert; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    if ((${#missing[@]})); then
        xsession_log "missing tools: ${missing[*]} (scripts/run-tests installs them)"
        return 1
    fi
}

xsession_display_ready() {
    [[ -s $XSESSION_DIR/display ]] && [[ $(<"$XSESSION_DIR/display") == *[0-9]* ]]
}

xsession_wm_ready() {
    wmctrl -m >/dev/null 2>&1
}

# xsession_start [SCREEN]: starts Xvfb (default screen 1024x768x24) on the
# first free display, exports DISPLAY, starts openbox and waits until it
# manages windows. Installs the clean-up as the shell's EXIT trap.
xsession_start() {
    local screen=${1:-1024x768x24}
    xsession_check_tools || return 1

    XSESSION_DIR=$(mktemp -d "${TMPDIR:-/tmp}/noksu-x.XXXXXX") || return 1
    trap xsession_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM

    # Other X servers may come and go on this machine as ours starts; one
    # that cannot be reached is given up for another.
    local attempt
    for attempt in 1 2 3; do
        xsession_try_start "$screen" && return 0
        xsession_log "the X session did not start (attempt $attempt of 3)"
        xsession_stop_process "$XSESSION_WM_PID"
        xsession_stop_process "$XSESSION_XVFB_PID"
        XSESSION_WM_PID=""
        XSESSION_XVFB_PID=""
    done
    return 1
}

xsession_try_start() {
    local screen=$1
    rm -f "$XSESSION_DIR/display"
    # Xvfb picks a free display itself and writes its number, once it
    # accepts connections, to the descriptor given with -displayfd. Without
    # -noreset it would reset whenever its last client left, as the probes
    # below do before openbox is connected, and refuse connections meanwhile.
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset \
        3>"$XSESSION_DIR/display" >"$XSESSION_DIR/xvfb.log" 2>&1 &
    XSESSION_XVFB_PID=$!
    if ! xsession_poll 15 xsession_display_ready; then
        xsession_log "Xvfb did not start; its log:"
        cat "$XSESSION_DIR/xvfb.log" >&2
        return 1
    fi
    local number
    number=$(tr -dc '0-9' <"$XSESSION_DIR/display")
    export DISPLAY=":$number"
    unset WAYLAND_DISPLAY
    # GTK would otherwise look for an accessibility bus that is not there and
    # say so on stderr.
    export NO_AT_BRIDGE=1
    if ! xsession_poll 5 xsession_display_answers; then
        xsession_log "Xvfb said $DISPLAY but does not answer there; its log:"
        cat "$XSESSION_DIR/xvfb.log" >&2
        return 1
    fi

    # openbox with its system-wide defaults, whatever the user has set up.
    mkdir -p "$XSESSION_DIR/config"
    XDG_CONFIG_HOME="$XSESSION_DIR/config" openbox --sm-disable \
        >"$XSESSION_DIR/openbox.log" 2>&1 &
    XSESSION_WM_PID=$!
    if ! xsession_poll 15 xsession_wm_ready; then
        xsession_log "openbox did not start on $DISPLAY; its log:"
        cat "$XSESSION_DIR/openbox.log" >&2
        return 1
    fi
}

xsession_display_answers() {
    xprop -root _NET_SUPPORTED >/dev/null 2>&1
}

# xsession_stop_process PID: TERM, then KILL if it is still there after two
# seconds. PID must be a child of this shell.
xsession_stop_process() {
    local pid=$1
    [[ -n $pid ]] || return 0
    if kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null
        xsession_poll 2 xsession_gone "$pid" || kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null || true
    xsession_forget "$pid"
    return 0
}

# xsession_forget PID: once a process has been waited for, its pid may be
# given to another one: it is no longer ours to end.
xsession_forget() {
    local kept=() other
    for other in "${XSESSION_PIDS[@]}"; do
        [[ $other == "$1" ]] || kept+=("$other")
    done
    XSESSION_PIDS=("${kept[@]}")
}

xsession_gone() {
    ! kill -0 "$1" 2>/dev/null
}

xsession_cleanup() {
    local pid
    for pid in "${XSESSION_PIDS[@]}"; do
        xsession_stop_process "$pid"
    done
    XSESSION_PIDS=()
    xsession_stop_process "$XSESSION_WM_PID"
    xsession_stop_process "$XSESSION_XVFB_PID"
    XSESSION_WM_PID=""
    XSESSION_XVFB_PID=""
    if [[ -n $XSESSION_DIR && -d $XSESSION_DIR ]]; then
        rm -rf -- "$XSESSION_DIR"
    fi
    XSESSION_DIR=""
}

# xsession_launch OUT ERR COMMAND...: starts COMMAND in the background with its
# output in the files OUT and ERR, to be ended at exit. Its pid is in $!
# afterwards, as for any background job.
xsession_launch() {
    local out=$1 err=$2
    shift 2
    "$@" </dev/null >"$out" 2>"$err" &
    XSESSION_PIDS+=("$!")
}

# The visible, managed window whose title is exactly TITLE, if any.
xsession_find_exact() {
    local title=$1 id
    for id in $(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null); do
        [[ $(xdotool getwindowname "$id" 2>/dev/null) == "$title" ]] || continue
        # Menus and tooltips bypass the window manager; they are no windows
        # of their own to a person.
        xwininfo -id "$id" 2>/dev/null | grep -q 'Override Redirect State: no' || continue
        printf '%s\n' "$id"
        return 0
    done
    return 1
}

# xsession_wait_for_window TITLE SECONDS: prints the id of the visible window
# titled exactly TITLE (no regular expression characters) once it is there.
# xdotool's name search ignores case and also finds a program's menus, which
# GTK names after the program; the exact title is checked here.
xsession_wait_for_window() {
    local title=$1 seconds=$2
    local deadline=$(( $(xsession_now_us) + seconds * 1000000 ))
    local left
    while true; do
        left=$(( (deadline - $(xsession_now_us)) / 1000000 ))
        (( left > 0 )) || left=1
        timeout "$left" xdotool search --sync --onlyvisible --name "^${title}\$" \
            >/dev/null 2>&1 || true
        xsession_find_exact "$title" && return 0
        (( $(xsession_now_us) >= deadline )) && return 1
        sleep 0.1
    done
}

# xsession_wait_for_no_window TITLE SECONDS: returns 0 once no visible window
# is titled exactly TITLE.
xsession_wait_for_no_window() {
    xsession_poll "$2" xsession_no_window "$1"
}

xsession_no_window() {
    ! xsession_find_exact "$1" >/dev/null
}

# xsession_wait_for_exit PID SECONDS: returns 0 once the background job PID has
# ended, with its exit status in XSESSION_EXIT_STATUS; 1 if it is still
# running after SECONDS.
xsession_wait_for_exit() {
    local pid=$1 seconds=$2
    XSESSION_EXIT_STATUS=""
    xsession_poll "$seconds" xsession_gone "$pid" || return 1
    local status=0
    wait "$pid" || status=$?
    XSESSION_EXIT_STATUS=$status
    xsession_forget "$pid"
    return 0
}

# xsession_activate WID: raises and focuses the window, so that key presses
# sent with xdotool key go to it.
xsession_activate() {
    timeout 5 xdotool windowactivate --sync "$1" >/dev/null 2>&1
}

# xsession_capture WID FILE [frame]: saves the window's pixels as FILE; with
# "frame", the window manager's frame around it too.
xsession_capture() {
    local wid=$1 file=$2 frame=${3:-}
    local args=(-window "$wid")
    [[ $frame == frame ]] && args+=(-frame)
    import "${args[@]}" "$file" 2>/dev/null
}

# xsession_dark_pixels IMAGE GEOMETRY: the number of pixels darker than mid
# grey in the part of IMAGE given as an ImageMagick crop geometry (WxH+X+Y).
xsession_dark_pixels() {
    convert "$1" -crop "$2" +repage -colorspace Gray -threshold 50% \
        -format '%[fx:round(w*h*(1-mean))]' info:
}

# xsession_colours IMAGE GEOMETRY: the number of distinct colours there.
xsession_colours() {
    convert "$1" -crop "$2" +repage -format '%k' info:
}

# xsession_colour_pixels IMAGE GEOMETRY COLOUR: the number of pixels there
# within a few per cent of COLOUR (#RRGGBB).
xsession_colour_pixels() {
    convert "$1" -crop "$2" +repage -fuzz 8% \
        -fill black +opaque "$3" -fill white -opaque "$3" \
        -colorspace Gray -format '%[fx:round(w*h*mean)]' info:
}

# xsession_pixels_hash IMAGE GEOMETRY: a hash of the pixels there.
xsession_pixels_hash() {
    convert "$1" -crop "$2" +repage -format '%#' info:
}

# ----------------------------------------------------------------------------
# windows, as the window manager sees them
# ----------------------------------------------------------------------------

# xsession_window_size WID: WIDTHxHEIGHT of the window, without its frame.
xsession_window_size() {
    xwininfo -id "$1" 2>/dev/null \
        | awk '/^ *Width:/ { w = $2 } /^ *Height:/ { h = $2 } END { print w "x" h }'
}

# xsession_window_position WID: "X Y", the window's upper-left corner on the
# screen, without its frame.
xsession_window_position() {
    xwininfo -id "$1" 2>/dev/null \
        | awk '/Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 } END { print x, y }'
}

# xsession_frame_extents WID: "LEFT RIGHT TOP BOTTOM" of the window manager's
# frame.
xsession_frame_extents() {
    xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | grep -o '[0-9][0-9]*' | xargs
}

# xsession_size_hints WID: "MINIMUM MAXIMUM" from WM_NORMAL_HINTS, each as
# WIDTHxHEIGHT, empty where the program set none.
xsession_size_hints() {
    local hints min max
    hints=$(xprop -id "$1" WM_NORMAL_HINTS 2>/dev/null)
    min=$(sed -n 's/.*minimum size: \([0-9]*\) by \([0-9]*\).*/\1x\2/p' <<<"$hints")
    max=$(sed -n 's/.*maximum size: \([0-9]*\) by \([0-9]*\).*/\1x\2/p' <<<"$hints")
    echo "$min $max"
}

xsession_is_viewable() {
    xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# xsession_popup_of PID: the id of a visible window of the process that
# bypasses the window manager: an open menu.
xsession_popup_of() {
    local id
    for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
        if xwininfo -id "$id" 2>/dev/null | grep -q 'Override Redirect State: yes'; then
            printf '%s\n' "$id"
            return 0
        fi
    done
    return 1
}

# xsession_title_buttons WID: the buttons in the title bar of the window's
# frame, left to right, as a person sees them: one "X Y" line (the button's
# middle on the screen) for each group of dark columns in the title bar. With
# openbox's default layout (icon, title, iconify, maximise, close) the last
# three are the iconify, maximise and close buttons; a title too long for the
# frame is cut off before them.
xsession_title_buttons() {
    local wid=$1 left _right top _bottom x y size shot
    read -r left _right top _bottom <<<"$(xsession_frame_extents "$wid")"
    [[ -n $top && $top -gt 2 ]] || return 1
    read -r x y <<<"$(xsession_window_position "$wid")"
    size=$(xsession_window_size "$wid")
    shot=$XSESSION_DIR/title-bar.png
    xsession_capture "$wid" "$shot" frame || return 1
    # The darkest pixel of each column of the title bar, the frame's edges
    # left out.
    convert "$shot" -crop "${size%x*}x$((top - 2))+$left+1" +repage -colorspace Gray -depth 8 txt:- \
        | awk -F'[,:]' -v x0="$x" -v y0=$((y - top / 2)) '
            NR > 1 {
                split($0, value, "gray\\(")
                v = value[2] + 0
                if (!($1 in darkest) || v < darkest[$1]) darkest[$1] = v
                if ($1 > last) last = $1
            }
            END {
                start = -1
                for (c = 0; c <= last + 1; c++) {
                    dark = (c in darkest) && darkest[c] < 120
                    if (dark && start < 0) start = c
                    if (!dark && start >= 0) {
                        print x0 + int((start + c - 1) / 2), y0
                        start = -1
                    }
                }
            }'
}

# xsession_click_title_button WID N: clicks the Nth button of the window's
# title bar from the right: 1 closes, 2 maximises, 3 iconifies (openbox's
# default layout).
xsession_click_title_button() {
    local x y
    read -r x y <<<"$(xsession_title_buttons "$1" | tail -n "$2" | head -n 1)"
    [[ -n $y ]] || return 1
    xdotool mousemove "$x" "$y" click 1
}

# xsession_drag_title WID DX DY: drags the window by its title bar, DX and DY
# pixels, with pauses the window manager needs to see a drag.
xsession_drag_title() {
    local wid=$1 buttons icon iconify y
    buttons=$(xsession_title_buttons "$wid") || return 1
    # Between the window's icon and the iconify button: the title.
    read -r icon y <<<"$(head -n 1 <<<"$buttons")"
    read -r iconify _ <<<"$(tail -n 3 <<<"$buttons" | head -n 1)"
    [[ -n $icon && -n $iconify ]] || return 1
    xdotool mousemove $(((icon + iconify) / 2)) "$y"
    xdotool mousedown 1
    sleep 0.1
    xdotool mousemove_relative -- 10 10
    sleep 0.1
    xdotool mousemove_relative -- $(($2 - 10)) $(($3 - 10))
    sleep 0.1
    xdotool mouseup 1
}

# ----------------------------------------------------------------------------
# reading the screen
# ----------------------------------------------------------------------------

# xsession_dark_row_runs IMAGE: the runs of rows of IMAGE that hold pixels
# darker than mid grey, top to bottom, one "FIRST LAST" line each.
xsession_dark_row_runs() {
    local height
    height=$(identify -format '%h' "$1") || return 1
    convert "$1" -colorspace Gray -threshold 50% -scale "1x$height!" -depth 16 txt:- \
        | awk -F'[(),: ]+' '
            BEGIN { start = -1 }
            NR > 1 {
                if ($4 < 65535 && start < 0) start = $2
                if ($4 >= 65535 && start >= 0) { print start, $2 - 1; start = -1 }
            }
            END { if (start >= 0) print start, $2 }'
}

# xsession_read_text IMAGE GEOMETRY #RRGGBB CHARACTERS: the line of text in
# that colour in that part of IMAGE, read by tesseract, which may only see
# CHARACTERS. The text is cut out by its colour, whatever lies behind it, and
# read at three heights around the one tesseract reads best (24 pixels: at
# 48, DejaVu Serif Bold's 5 read as a 3 one time in ten); what at least two
# of them read is the text. With no such majority, the three readings are
# given, joined by slashes.
xsession_read_text() {
    local image=$1 geometry=$2 colour=$3 characters=$4
    local distance=$XSESSION_DIR/ocr-distance.png ready=$XSESSION_DIR/ocr-ready.png box
    local height scaled=()
    # Every pixel's distance from the text colour, its largest difference in
    # any channel: the text is black, anything else light.
    convert "$image" -crop "$geometry" +repage \
        \( +clone -fill "$colour" -colorize 100 \) -compose difference -composite \
        -separate -evaluate-sequence max "$distance" || return 1
    box=$(convert "$distance" -threshold 50% -negate -format '%@' info: 2>/dev/null)
    [[ $box =~ ^[0-9]+x[0-9]+\+[0-9]+\+[0-9]+$ && $box != 0x0* ]] || return 1
    # The three heights one above the other, read in one go.
    for height in 24 28 32; do
        scaled+=(\( "$distance" -crop "$box" +repage -bordercolor white -border 2
                 -resize "x$height" -threshold 50% -bordercolor white -border 24 \))
    done
    convert "${scaled[@]}" -background white -gravity west -append "$ready" || return 1
    OMP_THREAD_LIMIT=1 tesseract "$ready" - --psm 6 -c tessedit_char_whitelist="$characters" 2>/dev/null \
        | tr -d '[:blank:]' | sed '/^$/d' \
        | awk '{ read[NR] = $0; count[$0]++ }
            END {
                for (text in count) if (count[text] >= 2) { print text; exit }
                for (i = 1; i <= NR; i++) printf "%s%s", read[i], (i < NR ? "/" : "\n")
            }'
}

# xsession_read_lines IMAGE: the lines of dark text on a light ground in
# IMAGE, as tesseract reads them.
xsession_read_lines() {
    local ready=$XSESSION_DIR/ocr-lines.png
    convert "$1" -colorspace Gray -resize 300% -threshold 60% "$ready" || return 1
    OMP_THREAD_LIMIT=1 tesseract "$ready" - --psm 6 2>/dev/null | sed '/^[[:space:]]*$/d'
}

# xsession_find_word IMAGE WORD: where a person would click to hit WORD in
# IMAGE, dark text on a light ground: "X Y" within the image.
xsession_find_word() {
    local image=$1 word=$2 ready=$XSESSION_DIR/ocr-words.png
    convert "$image" -colorspace Gray -resize 300% -threshold 60% "$ready" || return 1
    OMP_THREAD_LIMIT=1 tesseract "$ready" - --psm 11 tsv 2>/dev/null \
        | awk -F'\t' -v word="$word" '
            NR > 1 && $12 == word { print int(($7 + $9 / 2) / 3), int(($8 + $10 / 2) / 3); found = 1; exit }
            END { exit !found }'
}

# ----------------------------------------------------------------------------
# the clock: Noksu's window, its menu and its dialogs
# ----------------------------------------------------------------------------

# The clock the functions below drive: set by clock_start.
clock_pid=""
clock_wid=""
clock_err=""
# Where the clock's time stands from the real one, in seconds (libfaketime
# moves it), and the time zone it runs in (empty: the one here).
CLOCK_TIME_OFFSET=0
CLOCK_TZ=""

# clock_start NAME NOKSU [COMMAND...]: starts NOKSU, through COMMAND if given
# (env, valgrind, ...), with its output in the session's NAME.out and
# NAME.err, and waits up to CLOCK_WINDOW_TIMEOUT seconds (30: a first start
# builds the font cache) for its window. Sets clock_pid, clock_err and
# clock_wid (empty if no window came).
CLOCK_WINDOW_TIMEOUT=30
# How long the clock gets to show a menu, or a dialog's contents (a program
# under valgrind needs more).
CLOCK_UI_TIMEOUT=5
clock_start() {
    local name=$1 noksu=$2
    shift 2
    clock_err=$XSESSION_DIR/$name.err
    clock_wid=""
    xsession_launch "$XSESSION_DIR/$name.out" "$clock_err" "$@" "$noksu"
    clock_pid=$!
    # A clock that ends at once shows no window: no use waiting for one.
    xsession_poll "$CLOCK_WINDOW_TIMEOUT" clock_window_or_end
    clock_wid=$(xsession_find_exact Noksu) || {
        clock_wid=""
        return 1
    }
}

clock_window_or_end() {
    ! clock_running || xsession_find_exact Noksu >/dev/null
}

clock_running() {
    kill -0 "$clock_pid" 2>/dev/null
}

# clock_capture FILE: the clock window's pixels, without the frame.
clock_capture() {
    xsession_capture "$clock_wid" "$1"
}

# clock_display_geometry IMAGE [left|right]: the part of a picture of the
# clock window below the menu bar's title, where the time is (or that half of
# it), as an ImageMagick crop geometry.
clock_display_geometry() {
    local image=$1 size w h top
    size=$(identify -format '%wx%h' "$image") || return 1
    w=${size%x*}
    h=${size#*x}
    # The first dark line from the top is the title of the menu.
    top=$(xsession_dark_row_runs "$image" | awk 'NR == 1 { print $2 + 1 }')
    [[ -n $top ]] && ((top < h)) || return 1
    case ${2:-} in
        left) echo "$((w / 2))x$((h - top))+0+$top" ;;
        right) echo "$((w - w / 2))x$((h - top))+$((w / 2))+$top" ;;
        *) echo "${w}x$((h - top))+0+$top" ;;
    esac
}

# clock_read_picture IMAGE [#RRGGBB]: the time read in a picture of the
# clock, drawn in that colour (black unless given); "?" if none was read.
clock_read_picture() {
    local image=$1 colour=${2:-#000000} geometry text
    geometry=$(clock_display_geometry "$image") \
        && text=$(xsession_read_text "$image" "$geometry" "$colour" 0123456789:)
    echo "${text:-?}"
}

# clock_read_time [#RRGGBB]: takes a picture of the clock and reads the time
# in it. Prints "BEFORE AFTER TEXT": the real time just before and just after
# the picture, in microseconds since the epoch, and what was read.
clock_read_time() {
    local shot=$XSESSION_DIR/time-$BASHPID.png before after
    before=$(xsession_now_us)
    clock_capture "$shot" || return 1
    after=$(xsession_now_us)
    echo "$before $after $(clock_read_picture "$shot" "${1:-}")"
}

# clock_time_at SECONDS: the time the clock should show at that real time
# (seconds since the epoch), HH:MM:SS.
clock_time_at() {
    local at=$(($1 + CLOCK_TIME_OFFSET))
    if [[ -n $CLOCK_TZ ]]; then
        TZ=$CLOCK_TZ date -d "@$at" +%T
    else
        date -d "@$at" +%T
    fi
}

# clock_time_matches BEFORE AFTER TEXT (as from clock_read_time): TEXT is the
# time the clock should show at some moment from a second before BEFORE to
# AFTER: it shows the time within a second.
clock_time_matches() {
    local first=$(($1 / 1000000 - 1)) last=$(($2 / 1000000)) text=$3 second
    for ((second = first; second <= last; second++)); do
        [[ $(clock_time_at "$second") == "$text" ]] && return 0
    done
    return 1
}

# clock_expected BEFORE AFTER: what clock_time_matches accepts, for messages.
clock_expected() {
    local first=$(($1 / 1000000 - 1)) last=$(($2 / 1000000)) second times=()
    for ((second = first; second <= last; second++)); do
        times+=("$(clock_time_at "$second")")
    done
    local IFS=/
    echo "${times[*]}"
}

# clock_menu_key MOVES: opens the menu Toiminnot with F10, moves to an item
# with the arrow keys (a negative count goes up from the bottom: -1 is the
# last item) and presses Return.
clock_menu_key() {
    local moves=$1 key=Down i
    if ((moves < 0)); then
        key=Up
        moves=$((-moves))
    fi
    xsession_activate "$clock_wid" || return 1
    xdotool key F10
    xsession_poll "$CLOCK_UI_TIMEOUT" xsession_popup_of "$clock_pid" >/dev/null || return 1
    for ((i = 0; i < moves; i++)); do
        xdotool key "$key"
    done
    xdotool key Return
}

# clock_open_menu_with_mouse: clicks the title Toiminnot in the menu bar,
# found by reading the window, and waits for the menu. Prints its id.
clock_open_menu_with_mouse() {
    local shot=$XSESSION_DIR/menu-bar.png x y
    xsession_activate "$clock_wid" || return 1
    clock_capture "$shot" || return 1
    read -r x y <<<"$(xsession_find_word "$shot" Toiminnot)"
    [[ -n $y ]] || return 1
    # No --sync: it can wait many seconds for a move when the pointer is
    # there already. The server handles the move before the click anyway.
    xdotool mousemove --window "$clock_wid" "$x" "$y" click 1
    xsession_poll "$CLOCK_UI_TIMEOUT" xsession_popup_of "$clock_pid" >/dev/null || return 1
    xsession_popup_of "$clock_pid"
}

# clock_menu_click ITEM: opens the menu with the mouse and clicks the item
# whose label reads ITEM.
clock_menu_click() {
    local item=$1 menu shot=$XSESSION_DIR/menu.png x y
    menu=$(clock_open_menu_with_mouse) || return 1
    # The menu is mapped before it is painted.
    xsession_poll "$CLOCK_UI_TIMEOUT" clock_dialog_shows "$menu" "$item" "$shot" || return 1
    read -r x y <<<"$(xsession_find_word "$shot" "$item")"
    xdotool mousemove --window "$menu" "$x" "$y" click 1
}


# A dialog of the clock's own: a managed window of its process, transient for
# the clock window. Prints its id.
clock_find_dialog() {
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

# clock_wait_for_dialog SECONDS: prints the dialog's id once there is one.
clock_wait_for_dialog() {
    local found
    found=$(xsession_poll "$1" clock_find_dialog) || return 1
    # The poll prints nothing for its failed tries: the last line is the id.
    tail -n 1 <<<"$found"
}

clock_no_dialog() {
    ! clock_find_dialog >/dev/null
}

# clock_choose_colour DIALOG #RRGGBB: types the colour into GTK's colour
# dialog (Alt+N goes to its colour name; Return there only takes the colour
# in) and clicks its button Select.
clock_choose_colour() {
    local dialog=$1 colour=$2 shot=$XSESSION_DIR/colour-dialog.png x y
    xsession_activate "$dialog" || return 1
    xdotool key alt+n ctrl+a
    xdotool type "$colour"
    xdotool key Return
    xsession_poll "$CLOCK_UI_TIMEOUT" clock_dialog_shows "$dialog" Select "$shot" || return 1
    read -r x y <<<"$(xsession_find_word "$shot" Select)"
    xdotool mousemove --window "$dialog" "$x" "$y" click 1
}

# clock_dialog_shows WINDOW WORD FILE: WORD can be read in the window, whose
# picture is left in FILE.
clock_dialog_shows() {
    xsession_capture "$1" "$3" && xsession_find_word "$3" "$2" >/dev/null
}

# clock_choose_font DIALOG FAMILY SIZE: in GTK's font dialog, types FAMILY
# into its search field (focused when it opens), goes down into the list to
# the first match, over to the size field and back, and takes the font with
# Return.
clock_choose_font() {
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
# for the test scripts: checks and their report
# ----------------------------------------------------------------------------

# Each check prints "ok - NAME" or "not ok - NAME"; e2e_finish prints the
# closing "N passed, N failed" line.
e2e_passed=0
e2e_failed=0

pass() {
    e2e_passed=$((e2e_passed + 1))
    echo "ok - $*"
}

fail() {
    e2e_failed=$((e2e_failed + 1))
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

# e2e_finish: the closing line; returns non-zero if any check failed or none
# ran.
e2e_finish() {
    echo "$e2e_passed passed, $e2e_failed failed"
    ((e2e_failed == 0 && e2e_passed > 0))
}

# show_file LABEL FILE: FILE's lines as comments, if it has any.
show_file() {
    [[ -s $2 ]] || return 0
    echo "# $1:"
    sed 's/^/#   /' "$2"
}

# e2e_begin NOKSU: checks the argument, sets NOKSU and the locale GTK's
# dialogs are driven in (by their English labels and mnemonics), and starts
# the X session.
e2e_begin() {
    if [[ $# -ne 1 || ! -x $1 ]]; then
        echo "usage: $0 PATH/TO/noksu" >&2
        exit 2
    fi
    NOKSU=$1
    export LC_ALL=C.UTF-8
    unset LANGUAGE
    xsession_start 1024x768x24 || {
        echo "Bail out! no X session"
        exit 1
    }
    echo "# X session on $DISPLAY"
}

# start_clock NAME [COMMAND...]: clock_start with NOKSU, a failed check if no
# window comes.
start_clock() {
    local name=$1
    shift
    clock_start "$name" "$NOKSU" "$@" && return 0
    fail "$name: no visible window titled 'Noksu' within ${CLOCK_WINDOW_TIMEOUT}s"
    show_file "stderr" "$clock_err"
    if clock_running; then
        local id
        echo "# it runs, $(awk '{ print $14 + $15 }' "/proc/$clock_pid/stat") ticks of CPU so far; its windows:"
        for id in $(xdotool search --pid "$clock_pid" 2>/dev/null); do
            echo "#   $id '$(xdotool getwindowname "$id" 2>/dev/null)'" \
                "$(xwininfo -id "$id" 2>/dev/null | grep -o 'Map State: [A-Za-z]*')"
        done
    fi
    xsession_stop_process "$clock_pid"
    return 1
}

# Output that means the program or the toolkit went wrong underneath, even
# when the window looks fine.
stderr_is_clean() {
    ! grep -Eiq 'critical|assert|error|segmentation|warning' "$1"
}

# e2e_sanitized: NOKSU is built with AddressSanitizer, which valgrind cannot
# run and whose quarantine holds on to memory freed.
e2e_sanitized() {
    readelf -d "$NOKSU" 2>/dev/null | grep -q 'NEEDED.*libasan\.'
}

# e2e_faketime_env: the environment (NAME=VALUE, one a line) that brings
# libfaketime into the clock; nothing if it is not installed. The variables
# that say what to fake are the caller's.
e2e_faketime_env() {
    local library
    for library in /usr/lib/*/faketime/libfaketime.so.1 /usr/lib/faketime/libfaketime.so.1; do
        [[ -e $library ]] || continue
        echo "LD_PRELOAD=$library"
        # AddressSanitizer wants to be the first library loaded, and refuses
        # to start otherwise; behind libfaketime it works all the same. A
        # program without it never reads this.
        echo "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
        return 0
    done
    return 1
}

# How long the clock gets to end once told to.
E2E_EXIT_TIMEOUT=1

# expect_exit NAME [SECONDS]: the clock ends within SECONDS (E2E_EXIT_TIMEOUT)
# with status 0, its window is gone, and it said nothing alarming on stderr.
expect_exit() {
    local name=$1 seconds=${2:-$E2E_EXIT_TIMEOUT}
    if ! xsession_wait_for_exit "$clock_pid" "$seconds"; then
        fail "$name: still running ${seconds}s later"
        xsession_stop_process "$clock_pid"
        return 1
    fi
    expect_eq "$name: exit status" 0 "$XSESSION_EXIT_STATUS"
    check "$name: the window is gone" xsession_no_window Noksu
    if stderr_is_clean "$clock_err"; then
        pass "$name: nothing alarming on stderr"
    else
        fail "$name: stderr"
        show_file "stderr" "$clock_err"
    fi
}

# expect_time NAME [#RRGGBB]: the clock shows the time within a second, read
# from the screen; what was read is left in time_read. Text recognition now
# and then misreads a digit, so a reading that does not match is taken again,
# from a new picture, up to three times: a clock that shows a wrong time fails
# every one of them.
time_read=""
expect_time() {
    local name=$1 reading before after text attempt misread=()
    time_read=""
    for attempt in 1 2 3; do
        if ! reading=$(clock_read_time "${2:-}"); then
            fail "$name: no picture of the clock"
            return 1
        fi
        read -r before after text <<<"$reading"
        time_read=$text
        if clock_time_matches "$before" "$after" "$text"; then
            pass "$name ($text${misread[*]:+, after misreading ${misread[*]}})"
            return 0
        fi
        misread+=("'$text' for $(clock_expected "$before" "$after")")
    done
    fail "$name: read ${misread[*]}"
    return 1
}

# expect_ticking NAME [#RRGGBB]: the clock shows the time, and a second later
# the time again, a different one.
expect_ticking() {
    local first
    expect_time "$1: the time shown is the system's" "${2:-}" || return 1
    first=$time_read
    sleep 1.1
    expect_time "$1: a second later too" "${2:-}" || return 1
    check "$1: the time shown goes on" test "$first" != "$time_read"
}
