# Drives the real program in a virtual X display, the way a user would: start
# it, click its icons, drag the resolution track bar, take screenshots, press
# Escape. Sourced by the scripts that measure the program or photograph it.
#
#   source scripts/lib/xvfb-drive.sh
#   xvfb_start :93               # a private display (Xvfb and xdotool needed)
#   app_start build/quorl-eye --source demo
#   app_camera_on
#   app_choose_resolution 1     # track-bar position, see below
#   app_shot /tmp/motion.png
#   app_close
#
# The window opens at its design size, 640 x 480, and with no window manager
# it is not moved or resized, so the places below are fixed (window
# coordinates):
#   camera icon (alone, camera off, and in the tool row)  (319, 192)
#   front/back icon (192, 192)   settings icon (447, 192)
#   eye icon (255, 288)          about icon (383, 288)
#   an empty spot of the picture, for a tap               (100, 420)
#   settings panel: track bar from x 186 to 454 at y 240, OK at (320, 277)
# The tools fade four seconds after a tap, so each step that needs them taps
# the picture first. The functions also work in scripts run with
# set -euo pipefail.

APP_PID=""
XVFB_PID=""
APP_WX=0
APP_WY=0
APP_WIN=""

drive_need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || {
            echo "needs $tool (apt-get install xvfb xdotool imagemagick)" >&2
            return 1
        }
    done
}

# Starts Xvfb on display $1 (1280 x 800, 24 bits) unless one already answers there.
xvfb_start() {
    drive_need Xvfb xdotool || return 1
    export DISPLAY="$1"
    if xdotool getmouselocation >/dev/null 2>&1; then
        return 0
    fi
    Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 50); do
        xdotool getmouselocation >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "Xvfb did not start on $DISPLAY" >&2
    return 1
}

xvfb_stop() {
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
    XVFB_PID=""
}

# Starts the program ($1 and its options) and waits for its window.
# Standard error goes to $APP_STDERR when set.
app_start() {
    "$@" 2>"${APP_STDERR:-/dev/stderr}" &
    APP_PID=$!
    local i
    for i in $(seq 100); do
        APP_WIN=$(xdotool search --onlyvisible --pid "$APP_PID" --name 'Quorl Eye Vision' 2>/dev/null | head -1) || true
        if [ -n "$APP_WIN" ]; then
            eval "$(xdotool getwindowgeometry --shell "$APP_WIN")"
            APP_WX=$X
            APP_WY=$Y
            sleep 0.3
            return 0
        fi
        kill -0 "$APP_PID" 2>/dev/null || { echo "the program ended before its window opened" >&2; return 1; }
        sleep 0.1
    done
    echo "no program window after 10 s" >&2
    return 1
}

# Clicks at window coordinates ($1, $2), then waits $3 seconds (0.4 by default).
app_click() {
    xdotool mousemove $((APP_WX + $1)) $((APP_WY + $2)) click 1
    sleep "${3:-0.4}"
}

# Drags with the left button along y = $3 from x = $1 to x = $2.
app_drag() {
    local mid=$((($1 + $2) / 2))
    xdotool mousemove $((APP_WX + $1)) $((APP_WY + $3)) mousedown 1 \
        mousemove $((APP_WX + mid)) $((APP_WY + $3)) \
        mousemove $((APP_WX + $2)) $((APP_WY + $3)) mouseup 1
    sleep 0.3
}

app_tap_picture() { app_click 100 420 0.5; }

# The camera icon is the one tool shown while the camera is off.
app_camera_on() { app_click 319 192 1.0; }

# Opens the settings panel, drags the track bar to position $1 of the
# catalogue, and confirms with OK. Positions count from the left; for the demo
# front camera 0 = 320 x 240, 1 = 1920 x 1080, 2 = 1280 x 720, 3 = 640 x 480.
# The thumb is put in the middle of the position's span, since the track bar's
# value is truncated toward zero.
app_choose_resolution() {
    local last=${2:-3}
    app_tap_picture
    app_click 447 192 0.5
    local x=$((186 + (268 * (2 * $1 + 1)) / (2 * last)))
    [ "$1" -ge "$last" ] && x=454
    app_drag 454 "$x" 240
    app_click 320 277 1.0
}

app_shot() {
    drive_need import || return 1
    import -window root -crop 640x480+"$APP_WX"+"$APP_WY" +repage "$1"
}

# Escape closes the window; waits up to ten seconds for the program to end
# and returns its exit code.
app_close() {
    [ -n "$APP_PID" ] || return 0
    xdotool key --window "$APP_WIN" Escape 2>/dev/null || true
    local i rc=0
    for i in $(seq 100); do
        kill -0 "$APP_PID" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$APP_PID" 2>/dev/null; then
        echo "the program did not close within 10 s of Escape" >&2
        kill "$APP_PID"
        rc=1
    fi
    wait "$APP_PID" || rc=$?
    APP_PID=""
    return "$rc"
}
