#!/bin/bash
# Runs the harness's driver from the host share once per boot, then powers off, or
# reboots when the driver asked for it. Every boot appends its boot id to out/boots.
mountpoint -q /mnt/host || mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 hostshare /mnt/host
mkdir -p /mnt/host/out
chmod 1777 /mnt/host/out
rm -f /mnt/host/out/REBOOT-REQUESTED
cat /proc/sys/kernel/random/boot_id >> /mnt/host/out/boots
boot=$(wc -l < /mnt/host/out/boots)
echo "VM-AUTORUN-START boot=$boot uptime=$(cut -d' ' -f1 /proc/uptime)" > /dev/ttyS0
/bin/bash /mnt/host/guest/boot.sh > >(tee -a "/mnt/host/out/boot-$boot.log" > /dev/ttyS0) 2>&1
rc=$?
echo "$rc" > /mnt/host/out/rc
sync
echo "VM-AUTORUN-END rc=$rc uptime=$(cut -d' ' -f1 /proc/uptime)" > /dev/ttyS0
if [ -e /mnt/host/out/REBOOT-REQUESTED ]; then systemctl reboot; else systemctl poweroff; fi
