#!/usr/bin/env bash
# run.sh [-t SECONDS] [-j JOBS] [-p TARGETS] [TARGET...]: builds the libFuzzer targets (preset
# 'fuzz', into build/fuzz) and runs each named target (all when none is named) for SECONDS
# (default 60), TARGETS of them at a time (default 1; each target a process of its own, JOBS
# libFuzzer jobs within it). The corpus grows in build/fuzz/corpus/TARGET, seeded from
# fuzz/TARGET/corpus; a finding is saved in build/fuzz/findings/TARGET/ and the script ends with
# a non-zero status once the targets running then have finished (none starts after a finding).
# Add a saved finding to fuzz/TARGET/corpus/ once the fault is mended, so every build replays it.
# Extra libFuzzer flags may be given in FUZZ_FLAGS. Needs clang 14 (scripts/setup.sh check).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60 jobs=1 at_once=1
while getopts "t:j:p:" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    j) jobs=$OPTARG ;;
    p) at_once=$OPTARG ;;
    *) echo "usage: $0 [-t SECONDS] [-j JOBS] [-p TARGETS] [TARGET...]" >&2; exit 2 ;;
  esac
done
[[ $at_once =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: -p takes a positive number, not '$at_once'" >&2; exit 2; }
# libFuzzer's jobs log to build/fuzz/fuzz-N.log, which targets running at once would share.
[[ $jobs -le 1 || $at_once -eq 1 ]] || { echo "run.sh: -j and -p cannot both exceed 1" >&2; exit 2; }
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

# Runs one target for the set time; its log is build/fuzz/TARGET.log. Fails on a finding.
fuzz_one() {
  local t=$1 corpus=build/fuzz/corpus/$1 findings=build/fuzz/findings/$1 status=0
  mkdir -p "$corpus" "$findings"
  # Several jobs run as separate processes, each logging to build/fuzz/fuzz-N.log.
  local parallel=()
  [[ $jobs -le 1 ]] || parallel=(-jobs="$jobs" -workers="$jobs")
  # Decoder diagnostics go to standard output: close it (close_fd_mask=1) to keep the log short.
  # The log's last lines hold the final statistics, or the finding and its stack.
  # shellcheck disable=SC2086
  (cd build/fuzz && exec "fuzz/fuzz_$t" "corpus/$t" "../../fuzz/$t/corpus" \
      -max_total_time="$seconds" "${parallel[@]}" -close_fd_mask=1 -print_final_stats=1 \
      -artifact_prefix="findings/$t/" ${FUZZ_FLAGS:-}) >"build/fuzz/$t.log" 2>&1 || status=$?
  [[ $status -eq 0 ]] && ! compgen -G "$findings/*" >/dev/null
}

# Reports a finished target: its log's tail, and its findings when it failed.
report() {
  local t=$1 status=$2
  echo "=== fuzzed $t for ${seconds} s"
  grep -vE '^#[0-9]+|^"' "build/fuzz/$t.log" | tail -n 40
  if [[ $status -ne 0 ]]; then
    echo "run.sh: fuzz target $t found a fault; the input is in build/fuzz/findings/$t/:" >&2
    ls -l "build/fuzz/findings/$t" >&2
  fi
}

declare -A running=()  # process id -> target
failed=()
wait_for_one() {
  local pid status=0
  wait -n -p pid "${!running[@]}" || status=$?
  report "${running[$pid]}" "$status"
  [[ $status -eq 0 ]] || failed+=("${running[$pid]}")
  unset "running[$pid]"
}
for t in "${targets[@]}"; do
  while [[ ${#running[@]} -ge $at_once ]]; do
    wait_for_one
  done
  [[ ${#failed[@]} -eq 0 ]] || break
  echo "=== fuzzing $t for ${seconds} s"
  fuzz_one "$t" &
  running[$!]=$t
done
while [[ ${#running[@]} -gt 0 ]]; do
  wait_for_one
done
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "run.sh: findings in ${failed[*]}" >&2
  exit 1
fi
echo "run.sh: ${targets[*]}: no findings in ${seconds} s each"
