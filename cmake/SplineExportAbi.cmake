# The C++ standard library ABI of everything the plug-in shares types with.
#
# Maya 2019 on Linux is built with the pre-C++11 string ABI
# (_GLIBCXX_USE_CXX11_ABI=0), so a plug-in built for it must be too, or it
# references std::__cxx11 symbols that the host does not have. With product
# folders the ABI is 0 unless SPLINEEXPORT_CXX11_ABI says otherwise; with
# the stand-ins it is the compiler's default, and the stand-ins are built
# with whatever the plug-in is.
#
# Sets SPLINEEXPORT_ABI to the ABI used (0 or 1), and
# SPLINEEXPORT_ABI_IS_DEFAULT when it is the compiler's default: only then
# can the plug-in's tests link the system's GoogleTest.

include(CheckCXXSourceCompiles)

set(SPLINEEXPORT_CXX11_ABI "" CACHE STRING
    "_GLIBCXX_USE_CXX11_ABI of the plug-in, 0 or 1; empty: 0 with product folders, else the compiler's default")
set_property(CACHE SPLINEEXPORT_CXX11_ABI PROPERTY STRINGS "" 0 1)
if(NOT SPLINEEXPORT_CXX11_ABI MATCHES "^[01]?$")
  message(FATAL_ERROR "SPLINEEXPORT_CXX11_ABI is '${SPLINEEXPORT_CXX11_ABI}': give 0, 1 or nothing")
endif()

# Compiled only: nothing needs linking to tell.
set(_splineexport_target_type "${CMAKE_TRY_COMPILE_TARGET_TYPE}")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
check_cxx_source_compiles("
#include <string>
#if defined(_GLIBCXX_USE_CXX11_ABI) && !_GLIBCXX_USE_CXX11_ABI
#error the pre-C++11 ABI
#endif
int splineexport_abi_probe() { return 0; }" SPLINEEXPORT_COMPILER_CXX11_ABI)
set(CMAKE_TRY_COMPILE_TARGET_TYPE "${_splineexport_target_type}")
if(SPLINEEXPORT_COMPILER_CXX11_ABI)
  set(_splineexport_default_abi 1)
else()
  set(_splineexport_default_abi 0)
endif()

add_library(splineexport_abi INTERFACE)
if(NOT SPLINEEXPORT_CXX11_ABI STREQUAL "" OR SplineExportProducts_FOUND)
  if(SPLINEEXPORT_CXX11_ABI STREQUAL "")
    set(SPLINEEXPORT_ABI 0)
  else()
    set(SPLINEEXPORT_ABI ${SPLINEEXPORT_CXX11_ABI})
  endif()
  target_compile_definitions(splineexport_abi INTERFACE _GLIBCXX_USE_CXX11_ABI=${SPLINEEXPORT_ABI})
  message(STATUS "splineexport: built with _GLIBCXX_USE_CXX11_ABI=${SPLINEEXPORT_ABI}")
else()
  set(SPLINEEXPORT_ABI ${_splineexport_default_abi})
endif()

if(SPLINEEXPORT_ABI EQUAL _splineexport_default_abi)
  set(SPLINEEXPORT_ABI_IS_DEFAULT TRUE)
else()
  set(SPLINEEXPORT_ABI_IS_DEFAULT FALSE)
endif()
