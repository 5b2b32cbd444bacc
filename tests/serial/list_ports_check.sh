#!/bin/sh
# Runs `zoompanel --list-ports` without a display and checks it against this
# machine's sysfs, read here independently: every ttyS whose serial core
# reports a UART type is listed (marked when it is the console), no ttyS
# placeholder of type 0 is, and no terminal or pseudo-terminal is.
set -u
prog=$1
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prog" --list-ports)
status=$?
printf '%s\n' "$out"
if [ "$status" -ne 0 ]; then
    echo "FAIL: exit status $status"
    exit 1
fi
fail=0
consoles=" $( (awk '{print $1}' /proc/consoles; cat /sys/class/tty/console/active) 2>/dev/null | tr '\n' ' ') "
for dir in /sys/class/tty/ttyS*; do
    [ -e "$dir/type" ] || continue
    name=${dir##*/}
    line=$(printf '%s\n' "$out" | grep -E "^/dev/$name  ")
    if [ "$(cat "$dir/type")" -ne 0 ]; then
        if [ -z "$line" ]; then
            echo "FAIL: the UART $name is not listed"
            fail=1
        fi
        case "$consoles" in
        *" $name "*)
            case "$line" in
            *"(console)") ;;
            *) echo "FAIL: the console $name is not marked"; fail=1 ;;
            esac
            ;;
        esac
    elif [ -n "$line" ]; then
        echo "FAIL: the placeholder $name is listed"
        fail=1
    fi
done
if printf '%s\n' "$out" | grep -qE '^/dev/(tty[0-9]*|pts/[0-9]+|ptmx|console|ttyp[0-9a-f]) '; then
    echo "FAIL: a terminal or pseudo-terminal is listed"
    fail=1
fi
if [ ! -e /run/udev/control ] && ! printf '%s\n' "$out" | grep -q '^No udev daemon'; then
    echo "FAIL: no word that udev is missing"
    fail=1
fi
exit $fail
