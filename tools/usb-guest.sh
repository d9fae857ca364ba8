#!/usr/bin/env bash
# A small Linux guest whose serial port is an emulated FTDI USB adapter with
# the real ftdi_sio driver behind it, and our console inside it. Built from
# Debian's packages: the kernel that linux-image-amd64 names and busybox-static
# are fetched into a cache (not the build folder: 70 MB a build is too much),
# qemu-system-x86 and cpio come installed.
#
#   tools/usb-guest.sh fetch            the packages into the cache, once
#   tools/usb-guest.sh check            says what is missing; status 1 if anything
#   tools/usb-guest.sh image [BUILD]    BUILD/usb-guest/base.cpio: busybox, the modules,
#                                       BUILD/tolvanis with its libraries, an init
#   tools/usb-guest.sh pack BUILD DIR OUT   the base with DIR's files as /test
#   tools/usb-guest.sh run [BUILD] -a PTY [-x DIR | -i INITRD] [-t TRACE] [-m SOCKET]
#       boots it, the adapter joined to the terminal PTY (e.g. a tolvanis-sim's),
#       QEMU's usb_serial_* trace in TRACE, its monitor on SOCKET. The guest runs
#       /test/run when there is one, else its console (this terminal) is a shell;
#       it powers off after either. Ctrl+A X stops QEMU.
#
# The cache is $TOLVANIS_GUEST_CACHE, else ${XDG_CACHE_HOME:-~/.cache}/tolvanis-guest.
set -euo pipefail

cache=${TOLVANIS_GUEST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tolvanis-guest}
# Loaded in this order; dependencies come first (see ordered_modules).
wanted_modules=(uhci-hcd ftdi_sio)

die() { echo "usb-guest: $*" >&2; exit 1; }

kernel_image() { compgen -G "$cache/kernel/boot/vmlinuz-*" | head -n 1; }

missing() {
    command -v qemu-system-x86_64 >/dev/null || { echo "qemu-system-x86_64 not found; install qemu-system-x86"; return; }
    command -v cpio >/dev/null || { echo "cpio not found; install cpio"; return; }
    [[ -n $(kernel_image) ]] || { echo "no guest kernel in $cache; run tools/usb-guest.sh fetch"; return; }
    [[ -x $cache/busybox/bin/busybox ]] || { echo "no busybox in $cache; run tools/usb-guest.sh fetch"; return; }
}

fetch() {
    local kernel
    kernel=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ {print $2; exit}')
    [[ -n $kernel ]] || die "apt-cache names no kernel for linux-image-amd64 (apt-get update first?)"
    mkdir -p "$cache/debs"
    # apt's own user cannot write into a private folder; a plain download does.
    (cd "$cache/debs" && rm -f ./*.deb && apt-get download "$kernel" busybox-static)
    rm -rf "$cache/kernel" "$cache/busybox"
    dpkg-deb -x "$cache/debs/$kernel"_*.deb "$cache/kernel"
    # The kernel and its USB modules are all the guest takes: 20 MB of 450.
    find "$cache/kernel/lib/modules"/*/kernel -mindepth 1 -maxdepth 1 ! -name drivers -exec rm -rf {} +
    find "$cache/kernel/lib/modules"/*/kernel/drivers -mindepth 1 -maxdepth 1 ! -name usb -exec rm -rf {} +
    rm -rf "$cache/kernel/usr"
    dpkg-deb -x "$cache"/debs/busybox-static_*.deb "$cache/busybox"
    rm -f "$cache"/debs/*.deb
    echo "usb-guest: $kernel and busybox-static in $cache"
}

# A module's file by its name (- and _ are one to the kernel).
module_file() {
    find "$cache/kernel/lib/modules" -name "$1.ko*" -o -name "${1//-/_}.ko*" -o -name "${1//_/-}.ko*" | head -n 1
}

# The depends= line of a module's .modinfo section.
module_depends() {
    local file=$1
    if [[ $file == *.xz ]]; then xz -dc "$file"; else cat "$file"; fi |
        tr '\0' '\n' | sed -n 's/^depends=//p' | head -n 1 | tr ',' ' '
}

# Every module the wanted ones need, each after what it needs.
declare -A placed=()
ordered=()
place_module() {
    local name=$1 file dependency
    [[ -n ${placed[$name]:-} ]] && return
    placed[$name]=1
    file=$(module_file "$name")
    [[ -n $file ]] || die "module $name not in the kernel package"
    for dependency in $(module_depends "$file"); do place_module "$dependency"; done
    ordered+=("$name")
}

copy_with_libraries() {
    local program=$1 root=$2 library
    install -D -m 755 "$program" "$root/bin/$(basename "$program")"
    for library in $(ldd "$program" | grep -o '/[^ ]*'); do
        install -D -m 755 "$(readlink -f "$library")" "$root$library"
    done
}

write_init() {
    cat >"$1/init" <<'EOF'
#!/bin/sh
export PATH=/bin HOME=/tmp
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
dmesg -n 1
for module in $(cat /modules/order); do
    insmod /modules/$module.ko || echo "guest: insmod $module failed"
done
waited=0
while [ ! -e /dev/ttyUSB0 ] && [ $waited -lt 200 ]; do usleep 100000; waited=$((waited + 1)); done
[ -e /dev/ttyUSB0 ] && echo "guest: ready" || echo "guest: no /dev/ttyUSB0"
if [ -x /test/run ]; then
    cd /test && ./run </dev/null
    echo "guest: done $?"
else
    echo "guest: a shell; tolvanis -p/dev/ttyUSB0 runs the console, exit powers off"
    setsid cttyhack sh
fi
poweroff -f
EOF
    chmod 755 "$1/init"
}

image() {
    local build=${1:-build} reason root name file
    reason=$(missing)
    [[ -z $reason ]] || die "$reason"
    [[ -x $build/tolvanis ]] || die "$build/tolvanis not built"
    root=$(mktemp -d "${TMPDIR:-/tmp}/usb-guest-root.XXXXXX")
    trap 'rm -rf "$root"' RETURN
    mkdir -p "$root"/{bin,proc,sys,dev,tmp,modules}
    cp "$cache/busybox/bin/busybox" "$root/bin/"
    for name in $("$root/bin/busybox" --list); do [[ -e $root/bin/$name ]] || ln -s busybox "$root/bin/$name"; done
    for name in "${wanted_modules[@]}"; do place_module "$name"; done
    for name in "${ordered[@]}"; do
        file=$(module_file "$name")
        if [[ $file == *.xz ]]; then xz -dc "$file" >"$root/modules/$name.ko"; else cp "$file" "$root/modules/$name.ko"; fi
    done
    printf '%s\n' "${ordered[@]}" >"$root/modules/order"
    copy_with_libraries "$build/tolvanis" "$root"
    write_init "$root"
    mkdir -p "$build/usb-guest"
    (cd "$root" && find . | LC_ALL=C sort | cpio --quiet -o -H newc) >"$build/usb-guest/base.cpio.new"
    mv "$build/usb-guest/base.cpio.new" "$build/usb-guest/base.cpio"
    echo "usb-guest: $build/usb-guest/base.cpio (modules: ${ordered[*]})"
}

# BUILD's base archive with DIR's files as /test after it, in OUT: the
# kernel unpacks archives laid end to end, later files over earlier ones.
pack() {
    local build=$1 folder=$2 out=$3 root
    [[ -d $folder ]] || die "$folder is not a folder"
    [[ -f $build/usb-guest/base.cpio ]] || image "$build" >/dev/null
    root=$(mktemp -d "${TMPDIR:-/tmp}/usb-guest-test.XXXXXX")
    trap 'rm -rf "$root"' RETURN
    cp -r "$folder" "$root/test"
    { cat "$build/usb-guest/base.cpio"; (cd "$root" && find test | LC_ALL=C sort | cpio --quiet -o -H newc); } >"$out.new"
    mv "$out.new" "$out"
}

run() {
    local build=build adapter= folder= initrd= trace= monitor= option reason
    if [[ $# -gt 0 && $1 != -* ]]; then build=$1; shift; fi
    while getopts "a:x:i:t:m:" option; do
        case $option in
            a) adapter=$OPTARG ;;
            x) folder=$OPTARG ;;
            i) initrd=$OPTARG ;;
            t) trace=$OPTARG ;;
            m) monitor=$OPTARG ;;
            *) die "usage: run [BUILD] -a PTY [-x DIR | -i INITRD] [-t TRACE] [-m SOCKET]" ;;
        esac
    done
    reason=$(missing)
    [[ -z $reason ]] || die "$reason"
    [[ -n $adapter ]] || die "run needs -a PTY: the terminal the adapter's far end is joined to"
    if [[ -n $folder ]]; then
        initrd=$build/usb-guest/with-test.cpio
        pack "$build" "$folder" "$initrd"
    elif [[ -z $initrd ]]; then
        [[ -f $build/usb-guest/base.cpio ]] || image "$build" >/dev/null
        initrd=$build/usb-guest/base.cpio
    fi
    local extra=()
    [[ -n $trace ]] && extra+=(-trace "usb_serial_*" -D "$trace")
    [[ -n $monitor ]] && extra+=(-monitor "unix:$monitor,server,nowait")
    # TCG only: KVM here stops on an MSR error or hangs the kernel at boot.
    exec qemu-system-x86_64 -m 256 -nographic -no-reboot -kernel "$(kernel_image)" -initrd "$initrd" \
        -append "console=ttyS0 panic=-1" -usb -device usb-serial,chardev=u0,id=adapter \
        -chardev "serial,id=u0,path=$adapter" "${extra[@]}"
}

command=${1:-}
[[ $# -gt 0 ]] && shift
case $command in
    fetch) fetch ;;
    check) reason=$(missing); [[ -z $reason ]] || { echo "$reason"; exit 1; } ;;
    image) image "$@" ;;
    pack) [[ $# -eq 3 ]] || die "usage: pack BUILD DIR OUT"; pack "$1" "$2" "$3" ;;
    run) run "$@" ;;
    *) sed -n '2,/^set /s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
esac
