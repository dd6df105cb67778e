# Compiles through ccache when it is there and works, unless ZP_CCACHE is
# off or the user gave a compiler launcher of their own (as a cache variable
# or, from CMake 3.17 on, in the environment): theirs is left as it is.
#
# ccache is tried once on an empty file first: as a user without a writable
# home (a package build, say) it cannot make its cache, and every compile
# would fail.

set(_zp_launcher_given FALSE)
foreach(lang C CXX)
  if(CMAKE_${lang}_COMPILER_LAUNCHER OR DEFINED ENV{CMAKE_${lang}_COMPILER_LAUNCHER})
    set(_zp_launcher_given TRUE)
  endif()
endforeach()

if(ZP_CCACHE AND NOT _zp_launcher_given)
  find_program(ZP_CCACHE_PROGRAM ccache)
  mark_as_advanced(ZP_CCACHE_PROGRAM)
  if(ZP_CCACHE_PROGRAM)
    set(_zp_probe "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/zp_ccache_probe")
    file(WRITE "${_zp_probe}.cpp" "int zp_ccache_probe() { return 0; }\n")
    execute_process(COMMAND "${ZP_CCACHE_PROGRAM}" "${CMAKE_CXX_COMPILER}" -c "${_zp_probe}.cpp"
                            -o "${_zp_probe}.o"
                    RESULT_VARIABLE _zp_probe_status OUTPUT_VARIABLE _zp_probe_output
                    ERROR_VARIABLE _zp_probe_output)
    if(_zp_probe_status EQUAL 0)
      set(CMAKE_C_COMPILER_LAUNCHER "${ZP_CCACHE_PROGRAM}")
      set(CMAKE_CXX_COMPILER_LAUNCHER "${ZP_CCACHE_PROGRAM}")
    else()
      string(STRIP "${_zp_probe_output}" _zp_probe_output)
      message(STATUS "ccache cannot compile here (${_zp_probe_output}); building without it "
              "(-DZP_CCACHE=OFF leaves it out without trying)")
    endif()
  endif()
endif()
