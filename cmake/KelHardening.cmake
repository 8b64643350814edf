# Hardened Linux binaries: stack protector, fortified libc calls, full RELRO
# (relocations read-only after start-up, all symbols bound at load) and a
# stack that cannot execute. Windows builds take their own flags from the
# toolchain files. tests/scripts/check_hardening.sh verifies the result.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

add_compile_options(-fstack-protector-strong)

# Fortification needs the optimiser, and the sanitizers replace the libc
# functions it would check, so only optimised builds without them get it.
# Any level the compiler predefines gives way to level 2.
if(NOT KEL_SANITIZE AND NOT KEL_TSAN AND NOT KEL_FUZZ)
  add_compile_options(
    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()

add_link_options(-Wl,-z,relro,-z,now -Wl,-z,noexecstack)
