# Compiler warnings and sanitizers, applied through one interface target.
add_library(zp_build_flags INTERFACE)
target_compile_options(zp_build_flags INTERFACE -Wall -Wextra)
if(ZP_WERROR)
  target_compile_options(zp_build_flags INTERFACE -Werror)
endif()

if(ZP_SANITIZE)
  set(ZP_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer)
  add_compile_options(${ZP_SANITIZER_FLAGS})
  add_link_options(${ZP_SANITIZER_FLAGS})
endif()
