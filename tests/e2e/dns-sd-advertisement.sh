#!/usr/bin/env bash
# The dns-sd stand-in really advertises "Morvanta Studio": inside network, mount and pid
# namespaces made here (a veth pair of our own, a private D-Bus and Avahi daemon), so nothing is
# sent on this machine's interfaces and everything started ends with the namespace.
#   dns-sd-advertisement.sh BUILD_DIR
set -euo pipefail
DNS_SD=$(realpath "$1")/standins/dns-sd
if [ "${DNS_SD_INSIDE:-}" != 1 ]; then
    if [ "$(id -u)" != 0 ] || ! command -v avahi-daemon > /dev/null || ! unshare --net true 2>/dev/null; then
        echo "needs root, network namespaces and avahi-daemon; skipped"
        exit 77
    fi
    exec env DNS_SD_INSIDE=1 unshare --net --mount --pid --fork --propagation private bash "$0" "$1"
fi

mount -t tmpfs dns-sd-test /run
mkdir -p /run/dbus /run/avahi-daemon
ip link set lo up
ip link add morvanta0 type veth peer name morvanta1
ip addr add 10.213.0.1/24 dev morvanta0
ip addr add 10.213.0.2/24 dev morvanta1
ip link set morvanta0 up
ip link set morvanta1 up
dbus-daemon --system --fork --nopidfile
printf '[server]\nallow-interfaces=morvanta0\nuse-ipv6=no\n[publish]\npublish-hinfo=no\npublish-workstation=no\n' > /run/avahi.conf
avahi-daemon --no-drop-root --no-chroot --no-rlimits -f /run/avahi.conf -D
for _ in $(seq 50); do avahi-browse -at > /dev/null 2>&1 && break; sleep 0.1; done

"$DNS_SD" -R 'Morvanta Studio' _morvantamonitor._udp local 8890 > /run/dns-sd.log 2>&1 &
found=""
for _ in $(seq 50); do
    found=$(avahi-browse -rtp _morvantamonitor._udp 2>/dev/null | grep '^=' | grep 'Morvanta\\032Studio;_morvantamonitor._udp;local;' || true)
    [ -n "$found" ] && break
    sleep 0.2
done
cat /run/dns-sd.log
echo "$found"
[ -n "$found" ] || { echo "FAIL: the service was not found"; exit 1; }
echo "$found" | grep -q ';8890;' || { echo "FAIL: wrong port"; exit 1; }
grep -q 'Name now registered and active' /run/dns-sd.log || { echo "FAIL: no registration line"; exit 1; }
echo "ok: Morvanta Studio advertised on port 8890"
