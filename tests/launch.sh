#!/bin/sh
# Runs a test program: directly, or under the emulator command in WAVELIBS_TEST_EMULATOR when it
# is set (for example "qemu-x86_64", which takes its processor model from QEMU_CPU, or valgrind
# with its options). GoogleTest's listing of a program's cases (ctest's discovery) runs directly:
# it runs no test, and under valgrind each start costs seconds.
if [ -n "${WAVELIBS_TEST_EMULATOR:-}" ]; then
  case " $* " in
    *" --gtest_list_tests "*) ;;
    *)
      # The emulator command may carry options: split on blanks on purpose.
      # shellcheck disable=SC2086
      exec $WAVELIBS_TEST_EMULATOR "$@" ;;
  esac
fi
exec "$@"
