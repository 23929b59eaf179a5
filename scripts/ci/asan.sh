#!/usr/bin/env bash
# Builds everything with AddressSanitizer + UndefinedBehaviorSanitizer (gcc) into build/asan,
# runs the whole C test suite (unit tests, ABI tests, fuzz corpus replays), then the Python host's
# Python 3 tests and segyio cross-checks against the sanitized libraries. Any report stops the
# run (-fno-sanitize-recover=all).
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh build test
cmake --preset asan
cmake --build --preset asan
ctest --preset asan -j 2

if [[ ! -f scripts/ci/python.sh ]]; then
  echo "asan.sh: scripts/ci/python.sh is not there: the Python host tests were NOT run under ASan"
  exit 0
fi
# The host interpreter is not instrumented: the ASan runtime must be loaded before anything else.
# Leak detection is off because the interpreter's own allocations would be reported.
libasan=$(gcc -print-file-name=libasan.so)
[[ -f $libasan ]] || { echo "asan.sh: gcc's libasan.so not found ($libasan)" >&2; exit 1; }
# libmseedio too when it is built (libmseed itself is not instrumented).
mseedio=$PWD/build/asan/mseedio/libmseedio.so
[[ -f $mseedio ]] && export MSEEDIO_LIBRARY=$mseedio
WAVECODEC_LIBRARY=$PWD/build/asan/wavecodec/libwavecodec.so \
IBMFLOAT_LIBRARY=$PWD/build/asan/ibmfloat/libibmfloat.so \
LD_PRELOAD=$libasan ASAN_OPTIONS=detect_leaks=0 HOST_SUITES=py3 \
  bash scripts/ci/python.sh
