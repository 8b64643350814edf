# What both mingw-w64 toolchain files share; they set KEL_MINGW_PREFIX and
# KEL_MINGW_EXTRA_LINK_FLAGS first. The posix thread model gives the C++
# runtime std::mutex; the runtime itself (libstdc++, libgcc, winpthread) is
# linked statically, so no MinGW DLL ships.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KEL_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${KEL_MINGW_PREFIX}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${KEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime; address space layout randomisation and no-execute data
# (DllCharacteristics DYNAMIC_BASE and NX_COMPAT). Control-flow guard would
# belong here too, but mingw-w64's gcc 12 cannot emit it.
set(_kel_windows_link "-static -Wl,--dynamicbase -Wl,--nxcompat ${KEL_MINGW_EXTRA_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_kel_windows_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_kel_windows_link}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_kel_windows_link}")
