# Sourced by scripts/test and bench/run: starts a private X server with two side-by-side monitors
# and a private pulse server with a null sink, and stops both, by process id, on exit.
# Exports DISPLAY, PULSE_SERVER, XDG_RUNTIME_DIR. Call zentola_env_start, then zentola_env_stop (or
# let the EXIT trap do it).

ZENTOLA_ENV_PIDS=()
ZENTOLA_ENV_DIR=""

zentola_env_stop() {
  local pid
  for pid in "${ZENTOLA_ENV_PIDS[@]:-}"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  for pid in "${ZENTOLA_ENV_PIDS[@]:-}"; do
    [ -n "$pid" ] || continue
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  ZENTOLA_ENV_PIDS=()
  [ -n "$ZENTOLA_ENV_DIR" ] && rm -rf "$ZENTOLA_ENV_DIR"
  ZENTOLA_ENV_DIR=""
}

# zentola_env_start [WIDTH HEIGHT]: the screen is two monitors of WIDTH/2 x HEIGHT (default 3840x1080).
zentola_env_start() {
  local width="${1:-3840}" height="${2:-1080}"
  local half=$((width / 2))
  ZENTOLA_ENV_DIR=$(mktemp -d /tmp/zentola-env.XXXXXX)
  chmod 700 "$ZENTOLA_ENV_DIR"
  trap zentola_env_stop EXIT

  # A free display number.
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 "${width}x${height}x24" -noreset -nolisten tcp \
       +extension RANDR +extension Composite +extension MIT-SHM +extension XTEST \
       >"$ZENTOLA_ENV_DIR/xvfb.log" 2>&1 &
  ZENTOLA_ENV_PIDS+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  xdpyinfo >/dev/null 2>&1 || { echo "env: Xvfb did not start"; cat "$ZENTOLA_ENV_DIR/xvfb.log"; return 1; }
  # Physical sizes make 96 dpi.
  local mmw=$((half * 254 / 960)) mmh=$((height * 254 / 960))
  xrandr --setmonitor A "${half}/${mmw}x${height}/${mmh}+0+0" screen >/dev/null
  xrandr --setmonitor B "${half}/${mmw}x${height}/${mmh}+${half}+0" none >/dev/null

  # Sound: a user-mode pulse server with a null sink as the default output.
  unset DBUS_SESSION_BUS_ADDRESS
  export XDG_RUNTIME_DIR="$ZENTOLA_ENV_DIR/run"
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  export HOME_FOR_PULSE="$ZENTOLA_ENV_DIR/home"
  mkdir -p "$HOME_FOR_PULSE"
  HOME="$HOME_FOR_PULSE" pulseaudio -n --daemonize=no --exit-idle-time=-1 --system=false \
      --disallow-exit --log-target=file:"$ZENTOLA_ENV_DIR/pulse.log" \
      -L "module-native-protocol-unix socket=$XDG_RUNTIME_DIR/pulse/native auth-anonymous=1" \
      -L "module-null-sink sink_name=zentola_sink sink_properties=device.description=ZentolaSink" \
      -L "module-null-sink sink_name=zentola_mic_sink" \
      -L "module-remap-source source_name=zentola_mic master=zentola_mic_sink.monitor" \
      >/dev/null 2>&1 &
  ZENTOLA_ENV_PIDS+=($!)
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  if pactl info >/dev/null 2>&1; then
    pactl set-default-sink zentola_sink >/dev/null
    pactl set-default-source zentola_mic >/dev/null
  else
    echo "env: pulse server did not start"; cat "$ZENTOLA_ENV_DIR/pulse.log" 2>/dev/null | tail -20
    return 1
  fi
}
