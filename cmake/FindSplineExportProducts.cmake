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
# lib/LIBRARY and VAR_INCLUDE to VAR's include/ when it holds HEADER;
# records what is missing.
macro(_splineexport_product var library)
  set(_root "${${var}}")
  if(_root STREQUAL "")
    _splineexport_lacks("${var} is not set")
  elseif(NOT IS_DIRECTORY "${_root}")
    _splineexport_lacks("${var}: '${_root}' is not a folder")
  else()
    if(NOT "${ARGN}" STREQUAL "")
      unset(${var}_INCLUDE)
      find_path(${var}_INCLUDE ${ARGN} PATHS "${_root}/include" NO_DEFAULT_PATH NO_CACHE)
      if(NOT ${var}_INCLUDE)
        _splineexport_lacks("${var}: no '${_root}/include/${ARGN}'")
      endif()
    endif()
    unset(${var}_LIBRARY)
    find_library(${var}_LIBRARY NAMES ${library} PATHS "${_root}/lib" NO_DEFAULT_PATH NO_CACHE)
    if(NOT ${var}_LIBRARY)
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

# _splineexport_import(TARGET LIBRARY INCLUDE-DIRS...)
function(_splineexport_import target library)
  add_library(${target} SHARED IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${library}"
                        INTERFACE_INCLUDE_DIRECTORIES "${ARGN}")
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
