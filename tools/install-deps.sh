#!/bin/sh
# Installs the Debian packages the build needs when they are missing. As root
# it runs apt-get; otherwise it prints the command to run and fails.
set -e
missing=""
for pkg in "$@"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing="$missing $pkg"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -eq 0 ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing
else
  echo "Missing packages:$missing" >&2
  echo "Run: sudo apt-get install -y$missing" >&2
  exit 1
fi
