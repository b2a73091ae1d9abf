#!/usr/bin/env bash
# Starts or stops the private sound server the playback tests play into.
# Usage: pulse-fixture.sh start|stop <runtime dir>
#
# The server runs per user (also as root) with a null sink "test_sink" as the
# default sink; the tests record its monitor. It is started as a plain child,
# not daemonised, and its PID is kept in <runtime dir>/pulse.pid so that stop
# ends exactly this server. Every test process gets XDG_RUNTIME_DIR=<runtime
# dir> and PULSE_SERVER=unix:<runtime dir>/pulse/native.
set -euo pipefail

action=${1:?start or stop}
dir=${2:?runtime dir}
pidfile=$dir/pulse.pid

alive() {  # running and not merely waiting to be reaped
  [[ -r /proc/$1/stat ]] && [[ $(awk '{print $3}' "/proc/$1/stat") != Z ]]
}

stop() {
  [[ -f $pidfile ]] || return 0
  local pid
  pid=$(<"$pidfile")
  rm -f "$pidfile"
  if [[ -r /proc/$pid/cmdline ]] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q '^pulseaudio '; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do alive "$pid" || return 0; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
}

case $action in
  start)
    stop  # a server left over from an interrupted run
    mkdir -p "$dir/pulse" "$dir/home"
    chmod 0700 "$dir" "$dir/pulse"
    rm -f "$dir/pulse/native" "$dir/pulse/pid"
    export XDG_RUNTIME_DIR=$dir PULSE_SERVER=unix:$dir/pulse/native
    # HOME keeps the server's state files apart from the user's and from
    # servers of other build trees.
    HOME=$dir/home setsid pulseaudio --daemonize=no --system=false --exit-idle-time=-1 -n --disallow-exit=yes \
      --log-target=file:"$dir/pulse.log" \
      --load="module-null-sink sink_name=test_sink rate=48000 channels=2 norewinds=1" \
      --load="module-native-protocol-unix auth-anonymous=1 socket=$dir/pulse/native" \
      --load=module-always-sink </dev/null >/dev/null 2>&1 &
    echo $! >"$pidfile"
    for _ in $(seq 100); do
      if pactl info >/dev/null 2>&1; then
        pactl set-default-sink test_sink
        exit 0
      fi
      alive "$(<"$pidfile")" || break
      sleep 0.1
    done
    echo "the sound server did not start; its log:" >&2
    cat "$dir/pulse.log" >&2 || true
    stop
    exit 1
    ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop <runtime dir>" >&2; exit 2 ;;
esac
