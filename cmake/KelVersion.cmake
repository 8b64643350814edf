# The project's version (project() in CMakeLists.txt) is the one source of
# the release number. kel.h states it to hosts as KEL_VERSION_MAJOR, _MINOR
# and _PATCH, and the Python binding as __version__; the configure step fails
# when either says something else, so that no release ships two numbers.
file(STRINGS "${PROJECT_SOURCE_DIR}/include/kel/kel.h" _kel_version_lines
  REGEX "^#define KEL_VERSION_(MAJOR|MINOR|PATCH) ")
set(_kel_header_version "")
foreach(_part MAJOR MINOR PATCH)
  set(_kel_number "")
  foreach(_line IN LISTS _kel_version_lines)
    if(_line MATCHES "^#define KEL_VERSION_${_part} +([0-9]+)$")
      set(_kel_number "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  list(APPEND _kel_header_version "${_kel_number}")
endforeach()
list(JOIN _kel_header_version "." _kel_header_version)
if(NOT _kel_header_version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "include/kel/kel.h says version ${_kel_header_version}, the project "
    "${PROJECT_VERSION}: update KEL_VERSION_MAJOR, _MINOR and _PATCH")
endif()

set(_kel_python_init "${PROJECT_SOURCE_DIR}/bindings/python/kel/__init__.py")
if(EXISTS "${_kel_python_init}")
  file(STRINGS "${_kel_python_init}" _kel_python_version REGEX "^__version__ = ")
  if(NOT _kel_python_version STREQUAL "__version__ = \"${PROJECT_VERSION}\"")
    message(FATAL_ERROR "bindings/python/kel/__init__.py says ${_kel_python_version}, the "
      "project ${PROJECT_VERSION}")
  endif()
endif()
