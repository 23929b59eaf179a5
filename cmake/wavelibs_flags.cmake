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
