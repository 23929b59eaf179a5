# Warning and sanitizer flags shared by every target of the project.
set(WAVELIBS_WARNINGS -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion)
if(WAVELIBS_WERROR)
  list(APPEND WAVELIBS_WARNINGS -Werror)
endif()

if(WAVELIBS_SANITIZE)
  # -O1 -g keeps reports readable and stack traces complete.
  set(WAVELIBS_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
      -fno-omit-frame-pointer -O1 -g)
  add_compile_options(${WAVELIBS_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()

# Test programs' own code (it checks, it does not ship) is optimised at -O1 whatever the build
# type: about a third less compile time than -O3 for the same tests. The libraries they test, and
# the library sources a test program compiles in, keep the build type's level; so do the
# exhaustive sweeps, whose loops run 2^32 times. Empty: the build type's level for the tests too.
set(WAVELIBS_TEST_OPTIMIZE -O1 CACHE STRING "Optimisation flag for test code (empty: the build type's)")
