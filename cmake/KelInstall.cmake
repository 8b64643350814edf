# Install rules: the public header, libkel and the provider libkestro, the
# programs kel and kel-seal-server, a CMake package (find_package(Kel) gives
# Kel::kel) and the pkg-config file kel.pc.
#
# Everything is relocatable: programs find the libraries through a run path
# relative to $ORIGIN, libkel finds libkestro beside itself, and the package
# files locate the prefix from where they are installed.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KEL_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Kel")

# A consumer that links libkel also needs libkestro, which libkel's own
# symbols resolve against.
target_link_libraries(kel INTERFACE kestro)

install(TARGETS kel kestro EXPORT KelTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(FILES "${PROJECT_SOURCE_DIR}/include/kel/kel.h" "${PROJECT_SOURCE_DIR}/include/kel/kel_messages.h"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/kel")
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" "${PROJECT_SOURCE_DIR}/CHANGELOG.md"
  DESTINATION "${CMAKE_INSTALL_DOCDIR}")
install(FILES "${PROJECT_SOURCE_DIR}/kestro/include/kestro/kestro.h"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/kestro")

# The programs find the libraries in the library folder of the same prefix.
# Each comes with its manual page.
file(RELATIVE_PATH KEL_BIN_TO_LIB "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
foreach(program kel_cli kel-seal-server)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${KEL_BIN_TO_LIB}")
    install(TARGETS ${program} RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
    get_target_property(_kel_program_name ${program} OUTPUT_NAME)
    if(NOT _kel_program_name)
      set(_kel_program_name ${program})
    endif()
    install(FILES "${PROJECT_SOURCE_DIR}/docs/man/${_kel_program_name}.1"
      DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  endif()
endforeach()

install(EXPORT KelTargets NAMESPACE Kel:: DESTINATION "${KEL_INSTALL_CMAKEDIR}")
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/KelConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/KelConfig.cmake"
  INSTALL_DESTINATION "${KEL_INSTALL_CMAKEDIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/KelConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}" COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/KelConfig.cmake" "${PROJECT_BINARY_DIR}/KelConfigVersion.cmake"
  DESTINATION "${KEL_INSTALL_CMAKEDIR}")

# kel.pc names its prefix relative to its own folder, so that it stays right
# when the tree is installed with cmake --install --prefix elsewhere.
file(RELATIVE_PATH KEL_PC_TO_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig"
  "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" KEL_PC_TO_PREFIX "${KEL_PC_TO_PREFIX}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/kel.pc.in" "${PROJECT_BINARY_DIR}/kel.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/kel.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

# The development key pair, so that an installed kel-seal-server and kel work
# without the source tree: share/kel/dev-keys/ holds pubkey.key, the private
# key that the server signs with, and a README that says they are for
# development only. Installed by default only while the built-in key is the
# development key too.
file(READ "${PROJECT_SOURCE_DIR}/tests/fixtures/dev-only-document-server-key.pub" _kel_dev_public)
string(STRIP "${_kel_dev_public}" _kel_dev_public)
if(KEL_BUILTIN_SERVER_KEY STREQUAL _kel_dev_public)
  set(_kel_install_dev_keys_default ON)
else()
  set(_kel_install_dev_keys_default OFF)
endif()
option(KEL_INSTALL_DEV_KEYS "Install the development key pair under share/kel/dev-keys"
  ${_kel_install_dev_keys_default})
if(KEL_INSTALL_DEV_KEYS)
  set(_kel_dev_keys_dir "${CMAKE_INSTALL_DATADIR}/kel/dev-keys")
  install(FILES "${PROJECT_SOURCE_DIR}/tests/fixtures/dev-only-document-server-key.pub"
    DESTINATION "${_kel_dev_keys_dir}" RENAME pubkey.key)
  install(FILES "${PROJECT_SOURCE_DIR}/tests/fixtures/dev-only-document-server-key.pem"
    DESTINATION "${_kel_dev_keys_dir}" RENAME dev-only-server-key.pem)
  install(FILES "${PROJECT_SOURCE_DIR}/cmake/dev-keys-README.txt"
    DESTINATION "${_kel_dev_keys_dir}" RENAME README.txt)
endif()
