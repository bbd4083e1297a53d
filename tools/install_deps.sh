#!/bin/sh
# Installs what palvane needs on Debian 12 to build, test, benchmark and fuzz
# with libFuzzer (tools/fuzz.sh afl also needs afl++), skipping the packages
# that are already there.
set -e
packages="g++ cmake ninja-build pkg-config libhts-dev zlib1g-dev libgtest-dev libbenchmark-dev tabix time clang libclang-rt-14-dev"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" = 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends $missing
