#!/usr/bin/env bash
# Installs the Debian packages Quillory needs to build, test and run.
# Idempotent: does nothing when everything is present already.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang libclang-rt-14-dev
  libcurl4-openssl-dev libxml2-dev libxslt1-dev libgumbo-dev libstb-dev libwebp-dev
  libcpp-httplib-dev nlohmann-json3-dev libcli11-dev googletest libgtest-dev
  python3 python3-pyftpdlib ffmpeg curl wget ca-certificates
  libchm-dev fp-utils
  chromium firefox-esr nodejs npm
)

# Packages that a machine may already provide outside Debian's package of
# that name (a Node.js build that bundles npm conflicts with Debian's npm):
# the command being there is enough.
declare -A provides=([nodejs]=node [npm]=npm)

missing=()
for p in "${packages[@]}"; do
  if [ -n "${provides[$p]:-}" ] && command -v "${provides[$p]}" >/dev/null 2>&1; then
    continue
  fi
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
$sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
