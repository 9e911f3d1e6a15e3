# One warning list for every target of the tree.
set(XLOCD_WARNINGS
  -Wall -Wextra -Wshadow -Wpedantic -Wformat=2 -Wno-format-y2k -Wundef -Wcast-qual
  -Wmissing-declarations -Wnull-dereference)
if(XLOCD_WERROR)
  list(APPEND XLOCD_WARNINGS -Werror)
endif()

if(XLOCD_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz build instruments the whole tree for coverage (clang).
if(XLOCD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

function(xlocd_warnings target)
  target_compile_options(${target} PRIVATE ${XLOCD_WARNINGS})
endfunction()
