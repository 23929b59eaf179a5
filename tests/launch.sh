#!/bin/sh
# Runs a test program: directly, or under the emulator command in WAVELIBS_TEST_EMULATOR when it
# is set (for example "qemu-x86_64", which takes its processor model from QEMU_CPU).
if [ -n "${WAVELIBS_TEST_EMULATOR:-}" ]; then
  # The emulator command may carry options: split on blanks on purpose.
  # shellcheck disable=SC2086
  exec $WAVELIBS_TEST_EMULATOR "$@"
fi
exec "$@"
