# Waiting on the program's --stats lines while driving it with
# xvfb-drive.sh (sourced after it): the lines show when frames flow and at
# which size, which the screen cannot tell a script.

# Waits up to $2 seconds for a --stats line in file $1, after its first $3
# lines, that matches the pattern $4.
wait_stats() {
    local i
    for i in $(seq $(($2 * 10))); do
        tail -n +$(($3 + 1)) "$1" | grep -q -- "$4" && return 0
        sleep 0.1
    done
    return 1
}

# Switches the camera on and waits for frames of size $2 ("WxH") to be
# processed; $1 is the program's stderr, $3 the track-bar position to
# choose first (empty: the source's first setting). A click the window
# missed (it was still busy starting) is made once more.
camera_on_at() {
    local err=$1 size=$2 position=$3 from
    from=$(wc -l <"$err")
    app_camera_on
    wait_stats "$err" 4 "$from" 'processed [1-9]' || { app_camera_on; wait_stats "$err" 4 "$from" 'processed [1-9]'; } \
        || { echo "the camera did not start" >&2; return 1; }
    if [ -n "$position" ]; then
        from=$(wc -l <"$err")
        app_choose_resolution "$position"
        wait_stats "$err" 5 "$from" "| ${size}\$" || { app_choose_resolution "$position"; wait_stats "$err" 5 "$from" "| ${size}\$"; } \
            || { echo "could not choose $size" >&2; return 1; }
    fi
    wait_stats "$err" 5 "$from" "| ${size}\$" || { echo "no $size frames" >&2; return 1; }
}
