#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the simulated Mac need. Needs root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
    cmake ninja-build g++ pkg-config \
    qt6-base-dev libgl-dev nlohmann-json3-dev libpugixml-dev \
    libgtest-dev libgmock-dev libbenchmark-dev \
    libavahi-client-dev avahi-daemon dbus \
    xvfb xdotool x11-apps x11-utils imagemagick passwd fonts-dejavu-core \
    jq python3 iproute2 util-linux procps
