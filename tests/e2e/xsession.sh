# shellcheck shell=bash
#
# A private X session for driving Noksu from outside: an Xvfb server on a
# free display with openbox managing its windows, torn down when the shell
# that sourced this file exits.
#
# Used by the end-to-end tests and by scripts/run-clock. Source it, then call
# xsession_start. The functions also work under set -e. Needs bash 5 (EPOCHREALTIME), Xvfb, openbox, xdotool,
# wmctrl, x11-utils and ImageMagick.

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
