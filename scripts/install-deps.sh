#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the simulated Mac need. Needs root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
# Packages such as avahi-daemon must not start services on this machine: the tests run their
# own daemons inside namespaces they make. Block service starts while installing.
if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
    chmod +x /usr/sbin/policy-rc.d
    trap 'rm -f /usr/sbin/policy-rc.d' EXIT
fi
apt-get update
apt-get install -y --no-install-recommends \
    cmake ninja-build g++ pkg-config \
    qt6-base-dev libgl-dev nlohmann-json3-dev libsimdjson-dev libpugixml-dev \
    libgtest-dev libgmock-dev libbenchmark-dev \
    libavahi-client-dev avahi-daemon avahi-utils dbus \
    xvfb xdotool x11-apps x11-utils imagemagick passwd fonts-dejavu-core \
    clang libclang-rt-dev jq python3 iproute2 util-linux procps
