#!/usr/bin/env bash
# Installs the build and test dependencies from Debian's packages (run as root
# on Debian 12).  Does nothing when they are all present already.
set -euo pipefail
packages=(libvips-dev libgtest-dev cmake g++ pkg-config)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
