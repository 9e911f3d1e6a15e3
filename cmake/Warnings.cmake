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

# Debian's hardening flags (dpkg-buildflags: fortify, stack protector, relro and
# bindnow) in every optimised build but the instrumented ones, so the packages carry them.
find_program(XLOCD_DPKG_BUILDFLAGS dpkg-buildflags)
if(XLOCD_DPKG_BUILDFLAGS AND NOT XLOCD_SANITIZE AND NOT XLOCD_FUZZ
   AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  # A board's flags are its architecture's (-fcf-protection is for x86 alone).
  set(host_arch)
  if(XLOCD_DEB_ARCH)
    set(host_arch DEB_HOST_ARCH=${XLOCD_DEB_ARCH})
  endif()
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                      ${host_arch} ${XLOCD_DPKG_BUILDFLAGS} --get ${kind}
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags INCLUDE REGEX "^-(D_FORTIFY_SOURCE|fstack-protector|fstack-clash|fcf-protection|Wl,-z)")
    if(kind STREQUAL "LDFLAGS")
      add_link_options(${flags})
    else()
      add_compile_options(${flags})
    endif()
  endforeach()
endif()

function(xlocd_warnings target)
  target_compile_options(${target} PRIVATE ${XLOCD_WARNINGS})
endfunction()
