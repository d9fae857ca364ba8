#!/usr/bin/env bash
# The bash completion of tolvanis, run against a made-up /dev and /sys.
# Usage: completion_test.sh COMPLETION_FILE [TOLVANIS_BINARY]
set -uo pipefail

completion=$1
binary=${2:-}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvanis-completion-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

root=$scratch/root
mkdir -p "$root/dev/serial/by-id" "$root/sys/class/tty/ttyS0" "$root/sys/class/tty/ttyS1"
touch "$root/dev/"{ttyUSB0,ttyUSB1,ttyACM0,ttyS0,ttyS1,ttyS2,tty0,ttyprintk,console}
echo 4 >"$root/sys/class/tty/ttyS0/type"   # a 16550A answers
echo 0 >"$root/sys/class/tty/ttyS1/type"   # nothing answers
ln -s ../../ttyUSB0 "$root/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A5X-if00-port0"
ln -s ../../ttyACM0 "$root/dev/serial/by-id/usb-Acme_Board_12:34-if00"
ln -s ../../ttyUSB9 "$root/dev/serial/by-id/usb-Gone_Adapter-if00-port0"
export TOLVANIS_SYSFS_ROOT=$root

# shellcheck source=/dev/null
source "$completion"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Completes LINE with the cursor at its end, split into words as bash does
# (at blanks; a word ending the line may be empty).
complete_line() {
    COMP_LINE=$1
    COMP_POINT=${#1}
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _tolvanis
}

# Whether COMPREPLY holds WORD. (No pipe into grep -q: with pipefail, the
# writer's SIGPIPE after an early match would count as a failure.)
offered() {
    local reply
    for reply in "${COMPREPLY[@]}"; do
        [[ $reply == "$1" ]] && return 0
    done
    return 1
}

# Checks that COMPREPLY holds exactly the words given, in any order.
expect() {
    local what=$1
    shift
    local got want
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort)
    want=$(printf '%s\n' "$@" | sed '/^$/d' | sort)
    if [[ $got != "$want" ]]; then
        fail "$what"
        diff <(echo "$want") <(echo "$got") | sed 's/^/    /'
    fi
}

[[ $(complete -p tolvanis 2>/dev/null) == *"-F _tolvanis"* ]] || fail "no completion registered for tolvanis"

complete_line "tolvanis -"
expect "options after -" -p -b --list --help --version --log --log-timestamps --batch --timeout --reconnect --strict-rts --expect --fail-on
complete_line "tolvanis --"
expect "long options after --" --list --help --version --log --log-timestamps --batch --timeout --reconnect --strict-rts --expect --fail-on
complete_line "tolvanis --log"
expect "--log" --log --log-timestamps
complete_line "tolvanis --timeout "
expect "no value offered for --timeout"
complete_line "tolvanis --v"
expect "--v" --version

# Every option that the program's own help names is completed.
if [[ -n $binary && -x $binary ]]; then
    complete_line "tolvanis -"
    for option in $("$binary" --help | grep -oE '(^|[][ (,])--?[a-z][a-z-]*' | sed -E 's/^[][ (,]//' |
        sed -E 's/^(-[a-z]).*/\1/; t; s/^(--[a-z-]*[a-z]).*/\1/' | sort -u); do
        offered "$option" ||
            fail "$option (named by tolvanis --help) is not completed"
    done
fi

# Ports: glued to -p. Only ttyS ports with a UART behind them; by-id links
# that lead somewhere.
complete_line "tolvanis -p"
expect "devices after -p" "-p$root/dev/ttyUSB0" "-p$root/dev/ttyUSB1" "-p$root/dev/ttyACM0" \
    "-p$root/dev/ttyS0" "-p$root/dev/ttyS2" \
    "-p$root/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A5X-if00-port0" \
    "-p$root/dev/serial/by-id/usb-Acme_Board_12:34-if00"
complete_line "tolvanis -b115200 -p$root/dev/ttyU"
expect "a glued path prefix" "-p$root/dev/ttyUSB0" "-p$root/dev/ttyUSB1"
complete_line "tolvanis -p$root/dev/serial/by-id/usb-F"
expect "a by-id name" "-p$root/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A5X-if00-port0"
complete_line "tolvanis -pttyA"
expect "a bare name opens /dev/NAME" -pttyACM0
complete_line "tolvanis -pnothing"
expect "no such device"

# A by-id name with a colon: bash splits the word at ':' and replaces only
# the part after it.
COMP_LINE="tolvanis -p$root/dev/serial/by-id/usb-Acme_Board_12:3"
COMP_POINT=${#COMP_LINE}
COMP_WORDS=(tolvanis "-p$root/dev/serial/by-id/usb-Acme_Board_12" ":" "3")
COMP_CWORD=3
_tolvanis
expect "the part after a colon" 34-if00

# Baud rates, glued to -b.
complete_line "tolvanis -b11"
expect "-b11" -b115200
complete_line "tolvanis -p/dev/ttyUSB0 -b"
offered -b9600 || fail "-b9600 is not offered"
for reply in "${COMPREPLY[@]}"; do
    [[ $reply =~ ^-b[0-9]+$ ]] || fail "-b offers $reply, not a rate"
done

# The script file: names of files.
mkdir -p "$scratch/work/scripts"
touch "$scratch/work/boot.txt" "$scratch/work/other.txt"
(
    failures=0
    cd "$scratch/work" || exit 1
    complete_line "tolvanis -b115200 bo"
    expect "a script file" boot.txt
    complete_line "tolvanis scr"
    expect "a folder on the way to a script" scripts
    complete_line "tolvanis --log oth"
    expect "a log file after --log" other.txt
    exit "$failures"
) || failures=$((failures + $?))

# The devices of the real machine are looked up under /dev and /sys.
unset TOLVANIS_SYSFS_ROOT
complete_line "tolvanis -p"
for reply in "${COMPREPLY[@]}"; do
    [[ $reply == -p/dev/* ]] || fail "without a root, -p offers $reply"
done

[[ $failures -eq 0 ]] || exit 1
echo "completion: options, ports, rates and script files as expected"
