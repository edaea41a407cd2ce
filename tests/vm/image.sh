#!/usr/bin/env bash
# Builds (or finds) the test machine's image: Debian with systemd, logind, polkit, pkexec,
# the package's dependencies and what the scenarios use, cached under a name made from
# its package list and this script. Usage: tests/vm/image.sh DEB (prints the folder with
# base.img, vmlinux, initrd.img). Environment: VESPERON_VM_CACHE, VESPERON_VM_SUITE.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
deb=${1:?usage: tests/vm/image.sh DEB}
cache=${VESPERON_VM_CACHE:-/var/cache/vesperon-vm}

# The Debian archive apt already uses; its address is never written to a file or log.
mirror() {
    local m
    m=$(cat /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list 2>/dev/null |
        awk '/^URIs:/ { print $2; exit } $1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^https?:/) { print $i; exit } }') || true
    [ -n "$m" ] || { echo "image: no Debian archive in the apt sources" >&2; exit 1; }
    echo "$m"
}

suite=${VESPERON_VM_SUITE:-$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")}

# The package's own dependencies, first alternative of each, without versions.
package_depends() {
    dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed -E 's/\|.*//; s/\(.*\)//; s/[[:space:]]//g' |
        grep -v '^$' | sort -u
}

base_packages=(
    # a machine as a laptop has it
    systemd systemd-sysv libpam-systemd dbus polkitd pkexec udev kmod linux-image-amd64
    procps psmisc less
    # the scenarios: pkexec answered through expect, JSON from busctl read by python3
    expect python3
    # the tray application in a virtual X server with a tray host
    xvfb xauth trayer xdotool x11-utils qt6-qpa-plugins fonts-dejavu-core
)
packages=$( { printf '%s\n' "${base_packages[@]}"; package_depends; } | sort -u | paste -sd, -)
key=$(printf '%s\n%s\n' "$suite" "$packages" | cat - "$0" "$here"/guest/image-* "$here"/guest/*.service |
    sha256sum | cut -c1-16)
dir=$cache/$suite-$key
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
[ -f "$dir/ready" ] && { echo "$dir"; exit 0; }
work=$(mktemp -d "$cache/build.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/rootfs
M=$(mirror)
echo "image: building $suite-$key (first time only, a few minutes)" >&2
mmdebstrap --mode=root --variant=minbase --include="$packages" \
    --customize-hook='echo vesperon-vm > "$1/etc/hostname"; echo "127.0.1.1 vesperon-vm" >> "$1/etc/hosts"' \
    --customize-hook='printf "/dev/vda / ext4 defaults,errors=remount-ro 0 1\nhostshare /mnt/host 9p trans=virtio,version=9p2000.L,msize=262144,nofail,x-systemd.device-timeout=2s 0 0\n" > "$1/etc/fstab"; mkdir -p "$1/mnt/host"' \
    --customize-hook='chroot "$1" systemd-machine-id-setup' \
    --customize-hook='echo root:root | chroot "$1" chpasswd; chroot "$1" useradd -m -s /bin/bash tester; echo tester:tester | chroot "$1" chpasswd' \
    --customize-hook='d="$1/etc/systemd/system/serial-getty@ttyS0.service.d"; mkdir -p "$d"; printf "[Service]\nExecStart=\nExecStart=-/sbin/agetty --autologin root --keep-baud 115200,57600,38400,9600 %%I \$TERM\n" > "$d/autologin.conf"' \
    --customize-hook='d="$1/etc/systemd/system/getty@tty1.service.d"; mkdir -p "$d"; printf "[Service]\nExecStart=\nExecStart=-/sbin/agetty --autologin tester --noclear %%I \$TERM\n" > "$d/autologin.conf"' \
    --customize-hook='cp "'"$here"'/guest/image-user-session.sh" "$1/etc/profile.d/zz-vesperon-vm.sh"' \
    --customize-hook='install -m 755 "'"$here"'/guest/image-autorun.sh" "$1/usr/local/sbin/vesperon-vm-autorun"' \
    --customize-hook='cp "'"$here"'/guest/vesperon-vm-autorun.service" "$1/etc/systemd/system/"; chroot "$1" systemctl enable -q vesperon-vm-autorun.service' \
    --customize-hook='for u in apt-daily.timer apt-daily-upgrade.timer dpkg-db-backup.timer e2scrub_all.timer fstrim.timer e2scrub_reap.service man-db.timer; do chroot "$1" systemctl mask -q $u; done' \
    --customize-hook='echo MODULES=list > "$1/etc/initramfs-tools/conf.d/vesperon-vm"; printf "virtio_pci\nvirtio_blk\next4\ncrc32c_generic\n" >> "$1/etc/initramfs-tools/modules"; chroot "$1" update-initramfs -u -k all' \
    --customize-hook='chroot "$1" apt-get clean; rm -rf "$1"/var/lib/apt/lists/*; echo "# offline test machine: no apt sources" > "$1/etc/apt/sources.list"' \
    "$suite" "$root" "$M" 2>&1 | sed -u "s|$M|<archive>|g" | tail -n 3 >&2
cp "$root"/boot/initrd.img-* "$work/initrd.img"
# The kernel is booted uncompressed: decompressing it under emulation costs seconds at
# every boot (Debian 12's is XZ inside a bzImage, 13's zstd); else as it is (a bzImage).
kernel=$(ls "$root"/boot/vmlinuz-*)
unpack() {  # MAGIC DECOMPRESSOR...: the first payload after MAGIC that is an ELF kernel
    local offset
    for offset in $(LC_ALL=C grep -obUaP "$1" "$kernel" | cut -d: -f1); do
        tail -c +$((offset + 1)) "$kernel" | "${@:2}" > "$work/vmlinux" 2>/dev/null
        [ "$(head -c 4 "$work/vmlinux")" = $'\x7fELF' ] && return 0
    done
    return 1
}
unpack '\xfd7zXZ\x00' xz -dcq || unpack '\x28\xb5\x2f\xfd' zstd -dcq || cp "$kernel" "$work/vmlinux"
mke2fs -q -t ext4 -L vesperon-vm -d "$root" "$work/base.img" 3G
printf '%s\n' "$packages" | tr , '\n' > "$work/packages"
rm -rf "$root" "$dir"
mv "$work" "$dir"
trap - EXIT
touch "$dir/ready"
# Older images of the same release are kept only while one is in use: keep the two newest.
ls -dt "$cache/$suite"-* 2>/dev/null | tail -n +3 | xargs -r rm -rf
echo "$dir"
