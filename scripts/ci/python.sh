#!/usr/bin/env bash
# The Python host's tests (unittest) under Python 3 and, when present, Python 2.7.
# Uses the libraries named by WAVECODEC_LIBRARY / IBMFLOAT_LIBRARY when both are set (the
# sanitizer run sets them and preloads its runtime); otherwise builds build/release and uses it.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

if [[ -n ${WAVECODEC_LIBRARY:-} && -n ${IBMFLOAT_LIBRARY:-} ]]; then
  echo "python.sh: libraries from the environment: $WAVECODEC_LIBRARY $IBMFLOAT_LIBRARY"
else
  bash scripts/setup.sh build test
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DWAVELIBS_WERROR=ON >/dev/null
  cmake --build build/release -j 2 >/dev/null
  export WAVECODEC_LIBRARY=$root/build/release/wavecodec/libwavecodec.so.1
  export IBMFLOAT_LIBRARY=$root/build/release/ibmfloat/libibmfloat.so.1
fi
export PYTHONPATH="$root/python${PYTHONPATH:+:$PYTHONPATH}"

py3=$(command -v python3)
py27=${PYTHON27:-/root/.pyenv/versions/2.7.18/bin/python}

# Runs the suite under one interpreter; unittest prints failures and its summary.
run_suite() {
  echo "--- $("$1" --version 2>&1): $1"
  "$1" -m unittest discover -s python/tests -t python 2>&1
}

status3=0
run_suite "$py3" || status3=$?

status27=0
if [[ -x $py27 ]]; then
  run_suite "$py27" || status27=$?
else
  echo "--- Python 2.7 is absent ($py27 not found): its run is SKIPPED"
fi

if [[ $status3 -ne 0 || $status27 -ne 0 ]]; then
  echo "python.sh: FAILED (Python 3 status $status3, Python 2.7 status $status27)" >&2
  exit 1
fi
