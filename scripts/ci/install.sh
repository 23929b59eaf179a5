#!/usr/bin/env bash
# Installs the libraries of the release tree (cmake --install, the unit mode's build; built here
# when this mode runs alone) into a temporary prefix, moves the installed tree elsewhere (it must
# not depend on where it was installed), then builds and runs a small C consumer (tests/install)
# twice: with find_package(wavelibs) and with pkg-config; the same for libmseedio's consumer when
# libmseedio is built (libmseed-dev installed).
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh build test
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The unit mode's configuration, so that its build is installed as it stands.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DWAVELIBS_WERROR=ON \
  -DWAVELIBS_TESTS=ON >/dev/null
cmake --build build/release -j 2
cmake --install build/release --prefix "$work/staged"
mv "$work/staged" "$work/prefix"
prefix=$work/prefix

echo "--- consumer with find_package(wavelibs)"
cmake -S tests/install -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
cmake --build "$work/consumer"
"$work/consumer/consumer"
mseedio=0
[[ -f $prefix/lib/pkgconfig/mseedio.pc ]] && mseedio=1
if [[ $mseedio -eq 1 ]]; then
  "$work/consumer/consumer_mseed"
else
  echo "libmseedio was not built (libmseed-dev missing): its consumer is SKIPPED"
fi

echo "--- consumer with pkg-config"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
pkg-config --exists --print-errors wavecodec ibmfloat
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$work/consumer_pc" tests/install/consumer.c \
  $(pkg-config --cflags --libs wavecodec ibmfloat)
LD_LIBRARY_PATH=$(pkg-config --variable=libdir wavecodec) "$work/consumer_pc"
if [[ $mseedio -eq 1 ]]; then
  # shellcheck disable=SC2046
  cc -std=c99 -Wall -Wextra -Werror -o "$work/consumer_mseed_pc" tests/install/consumer_mseed.c \
    $(pkg-config --cflags --libs mseedio)
  LD_LIBRARY_PATH=$(pkg-config --variable=libdir mseedio) "$work/consumer_mseed_pc"
fi
echo "install.sh: the installed tree works with CMake and with pkg-config"
