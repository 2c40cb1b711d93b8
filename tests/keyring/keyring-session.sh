#!/bin/bash
# Runs a command on a private D-Bus session bus with a keyring of its own:
# gnome-keyring-daemon's Secret Service with its login collection unlocked
# by KELVO_TEST_KEYRING_PASSWORD. A second bus without any service is
# started beside it (KELVO_TEST_BARE_BUS, its address) for the case of no
# keyring. The bus offers no activatable services, so nothing else starts.
# The keyring's files live in a temporary home, removed at the end.
# With --bare first, the command runs on the bus without a keyring.
#   keyring-session.sh [--bare] COMMAND [ARG...]
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != --inside ]; then
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    export HOME="$tmp/home" XDG_DATA_HOME="$tmp/home/.local/share" XDG_CONFIG_HOME="$tmp/home/.config" \
           XDG_CACHE_HOME="$tmp/home/.cache" XDG_RUNTIME_DIR="$tmp/run"
    mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    export KELVO_TEST_KEYRING_PASSWORD=kelvo-test-keyring
    dbus-run-session --config-file="$here/session.conf" -- "$0" --inside "$@"
    exit $?
fi
shift
on_bare=false
if [ "${1:-}" = --bare ]; then
    on_bare=true
    shift
fi

bare=$(dbus-daemon --config-file="$here/session.conf" --print-address=1 --print-pid=1 --fork 2>/dev/null)
export KELVO_TEST_BARE_BUS=$(printf '%s\n' "$bare" | sed -n 1p)
bare_pid=$(printf '%s\n' "$bare" | sed -n 2p)

printf %s "$KELVO_TEST_KEYRING_PASSWORD" | gnome-keyring-daemon --foreground --unlock --components=secrets \
    >/dev/null 2>"$XDG_RUNTIME_DIR/keyring.log" &
export KELVO_TEST_KEYRING_PID=$!
for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true && break
    sleep 0.05
done

if $on_bare; then
    DBUS_SESSION_BUS_ADDRESS=$KELVO_TEST_BARE_BUS KELVO_TEST_ON_BARE_BUS=1 "$@"
else
    "$@"
fi
rc=$?
kill -CONT "$KELVO_TEST_KEYRING_PID" 2>/dev/null
kill "$KELVO_TEST_KEYRING_PID" "$bare_pid" 2>/dev/null
wait "$KELVO_TEST_KEYRING_PID" 2>/dev/null
exit $rc
