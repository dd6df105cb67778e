# Finds the products the plug-in builds against, each only in the folder its
# cache variable names:
#
#   SPLINEEXPORT_MAYA_ROOT      include/maya/MFnPlugin.h     lib/libOpenMaya.so
#   SPLINEEXPORT_XGEN_ROOT      include/XGen/XgSplineAPI.h   lib/libAdskXGen.so
#   SPLINEEXPORT_RENDERER_ROOT                               lib/libzephrin.so
#
# and defines the imported targets SplineExport::OpenMaya, SplineExport::AdskXGen
# and SplineExport::zephrin. The plug-in declares the renderer's functions
# itself, so the renderer needs no header; its include/, when present, is
# still put on the include path of its users.
#
# A library is linked by the path found, and the plug-in then records its
# SONAME. A library without one would be recorded by that absolute path, which
# does not exist once the products are moved: such a library is linked by name
# (-L folder -l name) instead, and the plug-in records its file name.
#
# SplineExportProducts_STANDINS is set when the folders also hold the
# stand-ins' test-facing headers, that is when they were installed from
# standins/ and the plug-in's tests can run against them.
#
# Nothing is cached: a changed folder is searched afresh on the next run.

set(_splineexport_missing "")

# _splineexport_lacks(TEXT): adds one line to the message that stops the run.
macro(_splineexport_lacks text)
  string(APPEND _splineexport_missing "\n  ${text}")
endmacro()

# _splineexport_product(VAR LIBRARY [HEADER]): sets VAR_LIBRARY to VAR's
# lib/LIBRARY and VAR_INCLUDE to VAR's include/; records what is missing
# (the library, or HEADER below include/).
macro(_splineexport_product var library)
  set(_root "${${var}}")
  if(_root STREQUAL "")
    _splineexport_lacks("${var} is not set")
  elseif(NOT IS_DIRECTORY "${_root}")
    _splineexport_lacks("${var}: '${_root}' is not a folder")
  else()
    set(${var}_INCLUDE "${_root}/include")
    if(NOT "${ARGN}" STREQUAL "" AND NOT EXISTS "${_root}/include/${ARGN}")
      _splineexport_lacks("${var}: no '${_root}/include/${ARGN}'")
    endif()
    set(${var}_LIBRARY "${_root}/lib/${library}")
    if(NOT EXISTS "${${var}_LIBRARY}" OR IS_DIRECTORY "${${var}_LIBRARY}")
      _splineexport_lacks("${var}: no '${_root}/lib/${library}'")
    endif()
  endif()
endmacro()

_splineexport_product(SPLINEEXPORT_MAYA_ROOT libOpenMaya.so maya/MFnPlugin.h)
_splineexport_product(SPLINEEXPORT_XGEN_ROOT libAdskXGen.so XGen/XgSplineAPI.h)
_splineexport_product(SPLINEEXPORT_RENDERER_ROOT libzephrin.so)

# A half-found set of products must never fall back to the stand-ins.
if(_splineexport_missing)
  message(FATAL_ERROR "splineexport: the products to build against are incomplete "
          "(give all three folders, or none for the stand-ins):${_splineexport_missing}")
endif()

find_program(SPLINEEXPORT_READELF NAMES readelf)
mark_as_advanced(SPLINEEXPORT_READELF)
if(NOT SPLINEEXPORT_READELF)
  message(FATAL_ERROR "splineexport: no readelf (binutils) to read the product libraries with")
endif()

# _splineexport_import(TARGET LIBRARY INCLUDE-DIRS...)
function(_splineexport_import target library)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env LC_ALL=C
                          "${SPLINEEXPORT_READELF}" -d "${library}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE dynamic ERROR_VARIABLE dynamic)
  if(NOT status EQUAL 0 OR NOT dynamic MATCHES "Dynamic section at offset")
    string(STRIP "${dynamic}" dynamic)
    message(FATAL_ERROR "splineexport: '${library}' is not a shared library:\n  ${dynamic}")
  endif()
  add_library(${target} SHARED IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${library}"
                        INTERFACE_INCLUDE_DIRECTORIES "${ARGN}")
  if(NOT dynamic MATCHES "\\(SONAME\\)")
    set_target_properties(${target} PROPERTIES IMPORTED_NO_SONAME TRUE)
    get_filename_component(name "${library}" NAME)
    message(STATUS "splineexport: '${library}' has no SONAME; linked by name, so that "
            "the plug-in needs '${name}' wherever it lies")
  endif()
endfunction()

set(SPLINEEXPORT_RENDERER_ROOT_INCLUDE "")
if(IS_DIRECTORY "${SPLINEEXPORT_RENDERER_ROOT}/include")
  set(SPLINEEXPORT_RENDERER_ROOT_INCLUDE "${SPLINEEXPORT_RENDERER_ROOT}/include")
endif()
_splineexport_import(SplineExport::OpenMaya "${SPLINEEXPORT_MAYA_ROOT_LIBRARY}"
                     "${SPLINEEXPORT_MAYA_ROOT_INCLUDE}")
_splineexport_import(SplineExport::AdskXGen "${SPLINEEXPORT_XGEN_ROOT_LIBRARY}"
                     "${SPLINEEXPORT_XGEN_ROOT_INCLUDE}")
_splineexport_import(SplineExport::zephrin "${SPLINEEXPORT_RENDERER_ROOT_LIBRARY}"
                     ${SPLINEEXPORT_RENDERER_ROOT_INCLUDE})

# The definitions that the host's developer kit documents for Linux plug-ins.
set_property(TARGET SplineExport::OpenMaya PROPERTY INTERFACE_COMPILE_DEFINITIONS
             Bits64_ UNIX _BOOL LINUX FUNCPROTO LINUX_64 REQUIRE_IOSTREAM)

if(EXISTS "${SPLINEEXPORT_MAYA_ROOT}/include/maya_standin.h"
   AND EXISTS "${SPLINEEXPORT_XGEN_ROOT}/include/xgen_standin.h"
   AND EXISTS "${SPLINEEXPORT_RENDERER_ROOT}/include/zephrin_standin.h")
  set(SplineExportProducts_STANDINS TRUE)
else()
  set(SplineExportProducts_STANDINS FALSE)
endif()

set(SplineExportProducts_FOUND TRUE)
message(STATUS "splineexport builds against ${SPLINEEXPORT_MAYA_ROOT_LIBRARY}, "
        "${SPLINEEXPORT_XGEN_ROOT_LIBRARY}, ${SPLINEEXPORT_RENDERER_ROOT_LIBRARY}")
