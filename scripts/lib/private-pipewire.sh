# A private PipeWire daemon and WirePlumber for a script (sourced), the same
# way the tests start theirs: a directory of its own for the socket and the
# configuration, no hardware monitors, no D-Bus, never the user's PipeWire.
#
#   pipewire_start      starts both, exports the client variables, waits
#                       until WirePlumber has made its "default" metadata
#   pipewire_stop       ends both and removes the directory

PIPEWIRE_DIR=""
PIPEWIRE_PIDS=""

pipewire_start() {
    PIPEWIRE_DIR=$(mktemp -d /tmp/quorl-pipewire.XXXXXX)
    mkdir -p "$PIPEWIRE_DIR"/{run,config/wireplumber/main.lua.d,config/wireplumber/bluetooth.lua.d,state,data}
    chmod 700 "$PIPEWIRE_DIR/run"
    cat >"$PIPEWIRE_DIR/pipewire.conf" <<'CONF'
context.properties = { core.daemon = true core.name = pipewire-0 support.dbus = false mem.allow-mlock = false }
context.spa-libs = { support.* = support/libspa-support }
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Dummy-Driver
               node.group = pipewire.dummy priority.driver = 20000 } }
]
CONF
    printf '%s\n' 'alsa_monitor.enabled = false' 'v4l2_monitor.enabled = false' \
        'libcamera_monitor.enabled = false' 'default_access.properties["enable-flatpak-portal"] = false' \
        >"$PIPEWIRE_DIR/config/wireplumber/main.lua.d/60-quorl.lua"
    echo 'bluez_monitor.enabled = false' >"$PIPEWIRE_DIR/config/wireplumber/bluetooth.lua.d/60-quorl.lua"
    export XDG_RUNTIME_DIR=$PIPEWIRE_DIR/run XDG_CONFIG_HOME=$PIPEWIRE_DIR/config
    export XDG_STATE_HOME=$PIPEWIRE_DIR/state XDG_DATA_HOME=$PIPEWIRE_DIR/data
    unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
    pipewire -c "$PIPEWIRE_DIR/pipewire.conf" >"$PIPEWIRE_DIR/pipewire.log" 2>&1 &
    PIPEWIRE_PIDS=$!
    local i
    for i in $(seq 100); do [ -S "$PIPEWIRE_DIR/run/pipewire-0" ] && break; sleep 0.05; done
    wireplumber >"$PIPEWIRE_DIR/wireplumber.log" 2>&1 &
    PIPEWIRE_PIDS="$PIPEWIRE_PIDS $!"
    for i in $(seq 100); do
        pw-cli ls Metadata 2>/dev/null | grep -q '"default"' && return 0
        sleep 0.05
    done
    echo "the private PipeWire did not come up (see $PIPEWIRE_DIR)" >&2
    return 1
}

pipewire_stop() {
    local pid
    # shellcheck disable=SC2086
    for pid in $PIPEWIRE_PIDS; do kill "$pid" 2>/dev/null || true; done
    for pid in $PIPEWIRE_PIDS; do wait "$pid" 2>/dev/null || true; done
    PIPEWIRE_PIDS=""
    [ -n "$PIPEWIRE_DIR" ] && rm -rf "$PIPEWIRE_DIR"
    PIPEWIRE_DIR=""
}
