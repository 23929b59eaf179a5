#!/usr/bin/env bash
# run.sh [-t SECONDS] [-j JOBS] [TARGET...]: builds the libFuzzer targets (preset 'fuzz', into
# build/fuzz) and runs each named target (all when none is named) for SECONDS (default 60), one
# after another. The corpus grows in build/fuzz/corpus/TARGET, seeded from fuzz/TARGET/corpus; a
# finding is saved in build/fuzz/findings/TARGET/ and the script stops with a non-zero status.
# Add a saved finding to fuzz/TARGET/corpus/ once the fault is mended, so every build replays it.
# Extra libFuzzer flags may be given in FUZZ_FLAGS. Needs clang 14 (scripts/setup.sh check).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60 jobs=1
while getopts "t:j:" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    j) jobs=$OPTARG ;;
    *) echo "usage: $0 [-t SECONDS] [-j JOBS] [TARGET...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

all_targets=(decode decode_chars header encode_lines sample_text roundtrip ibm2ieee double2ibm)
# The miniSEED target exists where libmseedio is built (libmseed-dev installed).
if [[ -x build/fuzz/fuzz/fuzz_mseed ]]; then
  all_targets+=(mseed)
else
  echo "run.sh: libmseedio is not built here: the mseed target is SKIPPED"
fi
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  [[ " ${all_targets[*]} " == *" $t "* ]] || { echo "run.sh: unknown target '$t' (targets: ${all_targets[*]})" >&2; exit 2; }
done

for t in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$t findings=build/fuzz/findings/$t
  mkdir -p "$corpus" "$findings"
  echo "=== fuzzing $t for ${seconds} s"
  # Several jobs run as separate processes, each logging to build/fuzz/fuzz-N.log.
  parallel=()
  [[ $jobs -le 1 ]] || parallel=(-jobs="$jobs" -workers="$jobs")
  # Decoder diagnostics go to standard output: close it (close_fd_mask=1) to keep the log short.
  # The log's last lines hold the final statistics, or the finding and its stack.
  status=0
  # shellcheck disable=SC2086
  (cd build/fuzz && exec "fuzz/fuzz_$t" "corpus/$t" "../../fuzz/$t/corpus" \
      -max_total_time="$seconds" "${parallel[@]}" -close_fd_mask=1 -print_final_stats=1 \
      -artifact_prefix="findings/$t/" ${FUZZ_FLAGS:-}) >"build/fuzz/$t.log" 2>&1 || status=$?
  grep -vE '^#[0-9]+|^"' "build/fuzz/$t.log" | tail -n 40
  if [[ $status -ne 0 ]] || compgen -G "$findings/*" >/dev/null; then
    echo "run.sh: fuzz target $t found a fault; the input is in $findings/:" >&2
    ls -l "$findings" >&2
    exit 1
  fi
done
echo "run.sh: ${targets[*]}: no findings in ${seconds} s each"
