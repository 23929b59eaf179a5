#!/usr/bin/env bash
# test.sh [MODE...]: runs the named test modes (all of them when none is named) and stops at the
# first that fails. Each mode is scripts/ci/MODE.sh and can be run on its own the same way.
#   unit      build (warnings as errors) and run the C test suite with ctest
#   python    the Python host's tests under Python 3 and, when present, Python 2.7
#   install   install to a temporary prefix and build a consumer with CMake and pkg-config
#   asan      the C suite, corpora and host tests with AddressSanitizer + UBSan
#   valgrind  the C suite under valgrind memcheck
#   fuzz      every libFuzzer target for a bounded time (FUZZ_SECONDS, default 20)
#   qemu-cpus run the C suite under qemu-x86_64 as CPUs without POPCNT (Haswell,-popcnt) and
#             without AVX (Nehalem): a kernel reachable without its features fails
#   s390x     cross-build for big-endian s390x and run the C suite under qemu
#   aarch64   cross-build for 64-bit ARM and run the C suite under qemu
set -euo pipefail
cd "$(dirname "$0")/.."

all_modes=(unit python install asan valgrind fuzz qemu-cpus s390x aarch64)
modes=("$@")
[[ ${#modes[@]} -gt 0 ]] || modes=("${all_modes[@]}")

for m in "${modes[@]}"; do
  [[ -f scripts/ci/$m.sh ]] || { echo "test.sh: unknown mode '$m' (modes: ${all_modes[*]})" >&2; exit 2; }
done
# Sets `cpu` to the processor time (user and system, whole seconds) of this shell's finished
# children so far: a mode's share of the machine, which other work on it changes less than the
# mode's wall time. (`times` runs in this shell: a subshell would count its own children only.)
times_file=$(mktemp)
trap 'rm -f "$times_file"' EXIT
children_cpu() {
  times >"$times_file"
  cpu=$(awk 'NR == 2 { t = 0; for (i = 1; i <= 2; ++i) { split($i, p, "m"); t += p[1] * 60 + p[2] }
                       printf "%d", t }' "$times_file")
}

for m in "${modes[@]}"; do
  echo "=== test mode: $m"
  start=$SECONDS
  children_cpu
  before=$cpu
  bash "scripts/ci/$m.sh"
  children_cpu
  echo "=== test mode $m passed in $((SECONDS - start)) s (processor time $((cpu - before)) s)"
done
