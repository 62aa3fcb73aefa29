#!/usr/bin/env bash
# Installs the Debian packages Quillmark needs that are not installed yet.
# Usage: scripts/deps.sh [build|test]   ("test" adds what only the test suites need)
# The fonts stand in for the display's typefaces on Linux: JetBrains Mono for "SF Mono", Quicksand for
# "SF Rounded", Inter for "SF Pro", OSP-DIN for "DIN"; DejaVu Sans Mono is "Menlo" and draws the window.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config
          libjack-jackd2-dev jackd2 qt6-base-dev libsndfile1-dev
          libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core
          fonts-jetbrains-mono fonts-quicksand fonts-inter fonts-opendin)
if [ "${1:-build}" = test ]; then
  # pipewire stage: a private PipeWire with its JACK library, session manager and session bus
  packages+=(clang libclang-rt-14-dev xauth xvfb pipewire pipewire-jack wireplumber dbus)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}" >&2
"${as_root[@]}" apt-get update -q
# jackd2 asks about real-time limits unless told not to.
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
