#!/usr/bin/env bash
# Installs the Debian packages Corvantis needs to build, run and test, when they are missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    qt6-gtk-platformtheme adwaita-icon-theme breeze-icon-theme libqt6svg6
    clang libclang-rt-dev
    libpugixml-dev libical-dev
    fonts-liberation fonts-wine libicu-dev
    xauth xvfb
    # the screen reader test: the accessibility bus and registry, and their Python client
    at-spi2-core python3-pyatspi
    # the desktop files: drawing the icons, checking the entry, metadata and file type; packaging
    librsvg2-bin desktop-file-utils appstream shared-mime-info dpkg-dev lintian
    # reminders: the D-Bus module, and a private session bus with a notification service in tests
    libqt6dbus6 dbus dbus-daemon python3-dbusmock
    # calendar sync: the password store, and the servers and the client the sync tests start
    qtkeychain-qt6-dev gnome-keyring radicale xandikos python3-caldav
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
