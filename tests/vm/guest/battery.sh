# The machine's battery as sysfs shows one, for a guest that has none.
# shellcheck shell=bash
battery_fixture() {
    local dir=/sys/class/power_supply
    mountpoint -q "$dir" || mount -t tmpfs -o mode=0755,size=64k vm-power "$dir"
    mkdir -p "$dir/BAT0" "$dir/AC"
    echo Battery > "$dir/BAT0/type"
    echo System > "$dir/BAT0/scope"
    echo 1 > "$dir/BAT0/present"
    echo Mains > "$dir/AC/type"
    battery 80 Discharging
    charger 0
}
battery() {   # PERCENT [STATUS]
    echo "$1" > /sys/class/power_supply/BAT0/capacity
    echo "${2:-Discharging}" > /sys/class/power_supply/BAT0/status
}
charger() { echo "$1" > /sys/class/power_supply/AC/online; }

