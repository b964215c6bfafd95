#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need. Does nothing when they are all
# present; as root it installs the missing ones with apt-get, otherwise it prints the one command to
# run and fails.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libpng-dev libjpeg62-turbo-dev libfreetype-dev
  libx11-dev libxrandr-dev libxtst-dev libxext-dev libxss-dev libgl-dev libgl1-mesa-dev libgl1-mesa-dri
  xvfb xauth x11-xkb-utils python3 util-linux procps
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

command="apt-get install -y --no-install-recommends ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && $command" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
