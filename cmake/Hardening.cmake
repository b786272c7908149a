# The hardening Debian gives its own packages: position-independent
# executables, read-only relocations bound at start, fortified libc calls,
# stack protector and format checks.
if(LC_HARDEN)
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat -Werror=format-security)
  # Fortify needs the optimiser (a Debug build would only warn about it), and
  # its checked calls would hide the accesses that the sanitizers look at.
  if(LC_SANITIZE STREQUAL "" AND NOT LC_BUILD_FUZZ)
    add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  endif()
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
