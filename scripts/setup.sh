#!/usr/bin/env bash
# setup.sh GROUP...: installs the Debian packages that the named groups of work need, if any are
# missing (apt-get as root). Groups: build (libraries and the example), test (unit tests),
# check (sanitizers, fuzzing, valgrind, big-endian and ARM runs), bench (benchmarks). Safe to run again.
set -euo pipefail

declare -A group=(
  [build]="cmake ninja-build g++ make python3 libmseed-dev"
  [test]="libgtest-dev libgmock-dev pkg-config python3-venv locales python3-segyio python3-numpy mseed2sac python3-dask python3-distributed python3-zarr python3-numcodecs python3-xarray"
  [check]="clang-14 libclang-rt-14-dev valgrind g++-s390x-linux-gnu g++-aarch64-linux-gnu qemu-user googletest"
  [bench]="libbenchmark-dev libsegyio-dev"
)

wanted=()
for g in "$@"; do
  [[ -n ${group[$g]+x} ]] || { echo "setup.sh: unknown group '$g'" >&2; exit 2; }
  wanted+=(${group[$g]})
done

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "setup.sh: these Debian packages are missing: ${missing[*]}; install them as root" >&2
  exit 1
fi
echo "setup.sh: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
