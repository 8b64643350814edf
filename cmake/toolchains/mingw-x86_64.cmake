# Cross build for 64-bit Windows with Debian's mingw-w64 (x86_64-w64-mingw32).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KEL_MINGW_PREFIX x86_64-w64-mingw32)
# 64-bit address space layout randomisation (HIGH_ENTROPY_VA).
set(KEL_MINGW_EXTRA_LINK_FLAGS "-Wl,--high-entropy-va")
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
