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

# Threads: the scans of a run's streams run side by side.
if(ZP_THREAD_SANITIZER AND ZP_SANITIZE)
  message(FATAL_ERROR "ZP_THREAD_SANITIZER and ZP_SANITIZE cannot be combined")
endif()
if(ZP_THREAD_SANITIZER)
  set(ZP_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
  add_compile_options(${ZP_SANITIZER_FLAGS})
  add_link_options(${ZP_SANITIZER_FLAGS})
endif()
