#!/usr/bin/env bash
# The Python host's tests (unittest) under Python 3 and, when present, Python 2.7.
# Uses the libraries named by WAVECODEC_LIBRARY / IBMFLOAT_LIBRARY when both are set (the
# sanitizer run sets them and preloads its runtime); otherwise builds build/release and uses it,
# and then also checks the offline install in a fresh venv.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

built_here=0
if [[ -n ${WAVECODEC_LIBRARY:-} && -n ${IBMFLOAT_LIBRARY:-} ]]; then
  echo "python.sh: libraries from the environment: $WAVECODEC_LIBRARY $IBMFLOAT_LIBRARY"
else
  [[ -n ${WAVECODEC_LIBRARY:-}${IBMFLOAT_LIBRARY:-} ]] || built_here=1
  bash scripts/setup.sh build test
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DWAVELIBS_WERROR=ON >/dev/null
  cmake --build build/release -j 2 >/dev/null
  # A variable that is set is kept; the other library comes from the build tree.
  export WAVECODEC_LIBRARY=${WAVECODEC_LIBRARY:-$root/build/release/wavecodec/libwavecodec.so.1}
  export IBMFLOAT_LIBRARY=${IBMFLOAT_LIBRARY:-$root/build/release/ibmfloat/libibmfloat.so.1}
  echo "python.sh: libraries: $WAVECODEC_LIBRARY $IBMFLOAT_LIBRARY"
fi
export PYTHONPATH="$root/python${PYTHONPATH:+:$PYTHONPATH}"

py3=$(command -v python3)
# Python 2.7: PYTHON27 when set, else pyenv's 2.7.18 (on this kind of machine when new; Debian 12
# has no Python 2 package), else a python2.7 on the PATH that runs as 2.7 (a pyenv shim may not).
py27_places=${PYTHON27:-/root/.pyenv/versions/2.7.18/bin/python python2.7}
py27=
for candidate in $py27_places; do
  if found=$(command -v "$candidate" 2>/dev/null) &&
      "$found" -c 'import sys; sys.exit(sys.version_info[:2] != (2, 7))' >/dev/null 2>&1; then
    py27=$found
    break
  fi
done
# HOST_SUITES=py3 (the sanitizer run) runs the Python 3 suite and the segyio cross-checks only:
# the Python 2.7 suite and the Dask cluster tests make the same library calls, and this mode
# runs them against the ordinary build.
suites=${HOST_SUITES:-all}
[[ $suites == all || $suites == py3 ]] || { echo "python.sh: HOST_SUITES is all or py3" >&2; exit 2; }

# Runs the suite under one interpreter; unittest prints failures and its summary.
run_suite() {
  echo "--- $("$1" --version 2>&1): $1"
  "$1" -m unittest discover -s python/tests -t python 2>&1
}

status3=0
run_suite "$py3" || status3=$?

# One line per suite for the summary at the end.
summary=()
result() { if [[ $2 -eq 0 ]]; then summary+=("$1: passed"); else summary+=("$1: FAILED (status $2)"); fi; }
result "Python 3 suite ($("$py3" --version 2>&1))" "$status3"

status27=0
if [[ $suites == py3 ]]; then
  echo "--- Python 2.7 suite not run here (HOST_SUITES=py3; the python mode runs it)"
  summary+=("Python 2.7 suite: not run (HOST_SUITES=py3)")
elif [[ -n $py27 ]]; then
  run_suite "$py27" || status27=$?
  result "Python 2.7 suite ($py27)" "$status27"
else
  echo "--- Python 2.7 is absent (looked for: $py27_places): its run is SKIPPED"
  summary+=("Python 2.7 suite: NOT RUN, no Python 2.7 interpreter found (looked for: $py27_places)")
fi

# The cross-checks against segyio need Debian's own python3, where python3-segyio and
# python3-numpy are installed (setup.sh group "test"); the module says so and skips without them.
# The survey modules need numpy (and segyio for their cross-checks) and run there too.
debian_py=/usr/bin/python3
status_segyio=0
if [[ -x $debian_py ]]; then
  echo "--- segyio cross-checks: $("$debian_py" --version 2>&1): $debian_py"
  (cd python && "$debian_py" -m unittest -v tests.test_segy_segyio tests.test_segy_survey \
    tests.test_segy_survey_segyio 2>&1) || status_segyio=$?
  result "segyio cross-checks ($debian_py)" "$status_segyio"
else
  echo "--- segyio cross-checks SKIPPED: $debian_py is absent"
  summary+=("segyio cross-checks: NOT RUN ($debian_py is absent)")
fi

# The archive runs on a Dask cluster need Debian's dask and distributed (setup.sh group
# "test"), also for Debian's own python3: each test starts its own `dask scheduler` and
# `dask worker` processes on 127.0.0.1 and kills them at its end (tests/test_archive_dask*.py;
# the index CSV read by pandas and dask.dataframe is checked there too).
status_dask=0
if [[ $suites == py3 ]]; then
  echo "--- archive on Dask clusters not run here (HOST_SUITES=py3; the python mode runs it)"
  summary+=("Dask archive tests: not run (HOST_SUITES=py3)")
elif [[ -x $debian_py ]]; then
  echo "--- archive on Dask clusters: $("$debian_py" --version 2>&1): $debian_py"
  (cd python && "$debian_py" -m unittest discover -v -s tests -t . -p 'test_archive_dask*.py' \
    2>&1) || status_dask=$?
  result "Dask archive tests ($debian_py)" "$status_dask"
else
  echo "--- archive on Dask clusters SKIPPED: $debian_py is absent"
  summary+=("Dask archive tests: NOT RUN ($debian_py is absent)")
fi

# SEG-Y surveys to Zarr and back (python3-zarr, -numcodecs, -xarray, -dask, -distributed,
# -segyio): round trips against segyio, serial / 2 processes / LocalCluster stores compared,
# and the documented `dask scheduler` / `dask worker` lines run on 127.0.0.1.
status_zarr=0
if [[ $suites == py3 ]]; then
  echo "--- SEG-Y to Zarr on Dask not run here (HOST_SUITES=py3; the python mode runs it)"
  summary+=("SEG-Y to Zarr tests: not run (HOST_SUITES=py3)")
elif [[ -x $debian_py ]]; then
  echo "--- SEG-Y to Zarr on Dask: $("$debian_py" --version 2>&1): $debian_py"
  (cd python && "$debian_py" -m unittest -v tests.test_segy_zarr tests.test_segy_zarr_docs 2>&1) ||
    status_zarr=$?
  result "SEG-Y to Zarr tests ($debian_py)" "$status_zarr"
else
  echo "--- SEG-Y to Zarr on Dask SKIPPED: $debian_py is absent"
  summary+=("SEG-Y to Zarr tests: NOT RUN ($debian_py is absent)")
fi

echo "--- python.sh summary"
printf '    %s\n' "${summary[@]}"
if [[ $status3 -ne 0 || $status27 -ne 0 || $status_segyio -ne 0 || $status_dask -ne 0 ||
      $status_zarr -ne 0 ]]; then
  echo "python.sh: FAILED (Python 3 status $status3, Python 2.7 status $status27, segyio" \
    "cross-checks status $status_segyio, Dask archive status $status_dask, Zarr status" \
    "$status_zarr)" >&2
  exit 1
fi

# Offline install in a fresh virtual environment, the libraries installed under its prefix
# (the package finds them in the prefix's lib directory), then the installed command.
# Only with the libraries built here: a sanitizer run's libraries need their runtime preloaded.
if [[ $built_here -ne 1 ]]; then
  echo "--- install check skipped (libraries given by the environment)"
else
  venv=$(mktemp -d)
  trap 'rm -rf "$venv"' EXIT
  echo "--- install check: pip install --no-index --no-build-isolation ./python in $venv"
  "$py3" -m venv "$venv"
  "$venv/bin/pip" install -q --no-index --no-build-isolation ./python
  cmake --install build/release --prefix "$venv" >/dev/null
  (cd "$venv" && env -u WAVECODEC_LIBRARY -u IBMFLOAT_LIBRARY -u PYTHONPATH \
    "$venv/bin/wavecodec" verify "$root/examples/event.gse")
  # libmseedio is installed beside the others when it was built (libmseed-dev present).
  if ls "$venv"/lib/libmseedio.so.* >/dev/null 2>&1; then
    (cd "$venv" && env -u WAVECODEC_LIBRARY -u IBMFLOAT_LIBRARY -u MSEEDIO_LIBRARY \
      -u PYTHONPATH "$venv/bin/wavecodec" gse2-to-mseed "$root/examples/event.gse" \
      -o "$venv/event.mseed" --network XX)
  else
    echo "--- installed miniSEED commands SKIPPED: libmseedio was not built"
  fi
fi
