# Cross build for 32-bit Windows with Debian's mingw-w64 (i686-w64-mingw32).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KEL_MINGW_PREFIX i686-w64-mingw32)
set(KEL_MINGW_EXTRA_LINK_FLAGS "")
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
