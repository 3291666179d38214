#!/usr/bin/env bash
# Installs every Debian package Ombrik needs to build, test, run and benchmark.
# Idempotent: installs only what is missing, and refreshes the package lists only then.
set -euo pipefail

packages=(
  g++ cmake make pkg-config git ca-certificates
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev
  libcurl4-openssl-dev curl
  duktape-dev
  libcpp-httplib-dev libssl-dev openssl
  tinyproxy microsocks
  fonts-wqy-microhei qt6-translations-l10n xvfb xauth x11-utils
  clang-14 libclang-rt-14-dev clang-format-14
  nginx aria2
  dpkg-dev file
  lintian desktop-file-utils appstream bash-completion
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing ${missing[*]}; run this script as root" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# The package installs start their daemons; the tests start their own on loopback.
for svc in tinyproxy nginx; do
  if command -v systemctl >/dev/null 2>&1; then systemctl disable --now "$svc" >/dev/null 2>&1 || true; fi
  service "$svc" stop >/dev/null 2>&1 || true
done
echo "install-deps: done"
