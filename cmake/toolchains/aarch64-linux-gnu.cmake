# Cross build for Linux on ARM64 with Debian's cross compiler
# (crossbuild-essential-arm64), against the arm64 libraries installed beside
# the native ones (multiarch: /usr/lib/aarch64-linux-gnu).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# find_library looks in /usr/lib/aarch64-linux-gnu (the library
# architecture above); pkg-config reads the arm64 packages' .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
