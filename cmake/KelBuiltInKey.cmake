# The built-in server key: the public-key text that framed answers are
# verified against, compiled into the library. A server has one key pair: a
# deployment sets the public half of its server's key with
# -DKEL_BUILTIN_SERVER_KEY=<text> and installs the same text as pubkey.key
# (which document answers and timestamps are verified against). The default
# is the development key, whose private half is a test fixture.
set(_kel_dev_key_file "${PROJECT_SOURCE_DIR}/tests/fixtures/dev-only-document-server-key.pub")
file(READ "${_kel_dev_key_file}" _kel_dev_key)
string(STRIP "${_kel_dev_key}" _kel_dev_key)

set(KEL_BUILTIN_SERVER_KEY "${_kel_dev_key}" CACHE STRING
  "Public-key text built into the library for verifying framed server answers (289 characters); the same key as the server's pubkey.key")

# Build trees configured when the development setup had a second key for
# framed answers cached that key as the default: they move to the one
# development key. A key set on purpose is kept.
file(READ "${PROJECT_SOURCE_DIR}/tests/fixtures/dev-only-other-server-key.pub" _kel_other_key)
string(STRIP "${_kel_other_key}" _kel_other_key)
if(KEL_BUILTIN_SERVER_KEY STREQUAL _kel_other_key)
  set(KEL_BUILTIN_SERVER_KEY "${_kel_dev_key}" CACHE STRING
    "Public-key text built into the library for verifying framed server answers (289 characters); the same key as the server's pubkey.key"
    FORCE)
endif()

string(LENGTH "${KEL_BUILTIN_SERVER_KEY}" _kel_key_length)
if(NOT _kel_key_length EQUAL 289)
  message(FATAL_ERROR
    "KEL_BUILTIN_SERVER_KEY must have 289 characters, not ${_kel_key_length}")
endif()
if(NOT KEL_BUILTIN_SERVER_KEY MATCHES "^[A-Za-z0-9+-]+$")
  message(FATAL_ERROR
    "KEL_BUILTIN_SERVER_KEY may hold only letters, digits, '+' and '-'")
endif()
if(KEL_BUILTIN_SERVER_KEY STREQUAL _kel_dev_key)
  message(STATUS "Kel: the built-in server key is the development key (dev-only-document-server-key)")
endif()

configure_file("${PROJECT_SOURCE_DIR}/cmake/built_in_server_key_text.h.in"
  "${PROJECT_BINARY_DIR}/generated/crypto/built_in_server_key_text.h" @ONLY)
target_include_directories(kel_objects PUBLIC "${PROJECT_BINARY_DIR}/generated")
