# Shared build rules: warnings, sanitizers, and the helpers that declare
# libraries, tests, fuzzers and benchmarks so that every folder builds the same way.

set(VAULTWICK_WARNINGS -Wall -Wextra -Wshadow -Werror)

if(VAULTWICK_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(VAULTWICK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(VAULTWICK_SANITIZE STREQUAL "fuzzer")
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT VAULTWICK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "Unknown VAULTWICK_SANITIZE value '${VAULTWICK_SANITIZE}'")
endif()

# vaultwick_library(name SOURCES ... [LIBS ...])
function(vaultwick_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${VAULTWICK_WARNINGS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC vaultwick_common ${ARG_LIBS})
endfunction()

# vaultwick_executable(name SOURCES ... [LIBS ...])
function(vaultwick_executable name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${VAULTWICK_WARNINGS})
  target_link_libraries(${name} PRIVATE vaultwick_common ${ARG_LIBS})
endfunction()

# vaultwick_test(name SOURCES ... [LIBS ...] [THREADS] [DATABASE] [KEYRING] [REMOTES] [TIMEOUT s]
#                [ARGS ...])
# THREADS: the test starts threads of its own and also runs in the ThreadSanitizer build.
# DATABASE: the test needs the private MariaDB server that scripts/test starts.
# KEYRING: the test runs under scripts/keyring, on a desktop keyring of its own.
# REMOTES: the test copies to a storage server: it is registered once for each
# kind (name_sftp, name_webdav, name_s3), each run inside a server of its own
# that scripts/test-remote starts and stops.
# ARGS: arguments of the test program.
function(vaultwick_test name)
  cmake_parse_arguments(ARG "THREADS;DATABASE;KEYRING;REMOTES" "TIMEOUT" "SOURCES;LIBS;ARGS" ${ARGN})
  if(VAULTWICK_SANITIZE STREQUAL "fuzzer")
    return()
  endif()
  if(VAULTWICK_SANITIZE STREQUAL "thread" AND NOT ARG_THREADS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${VAULTWICK_WARNINGS})
  target_link_libraries(${name} PRIVATE vaultwick_common ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  set(runs ${name})
  if(ARG_REMOTES)
    set(runs "")
    foreach(kind sftp webdav s3)
      add_test(NAME ${name}_${kind}
        COMMAND ${PROJECT_SOURCE_DIR}/scripts/test-remote run ${kind}
          ${CMAKE_CURRENT_BINARY_DIR}/${name}-${kind}-server $<TARGET_FILE:${name}> ${ARG_ARGS})
      list(APPEND runs ${name}_${kind})
    endforeach()
  elseif(ARG_KEYRING)
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/scripts/keyring run $<TARGET_FILE:${name}> ${ARG_ARGS})
  else()
    add_test(NAME ${name} COMMAND ${name} ${ARG_ARGS})
  endif()
  set(labels "")
  if(ARG_THREADS)
    list(APPEND labels threads)
  endif()
  if(ARG_DATABASE)
    list(APPEND labels database)
  endif()
  if(ARG_REMOTES)
    list(APPEND labels remote)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 900)
  endif()
  set_tests_properties(${runs} PROPERTIES LABELS "${labels}" TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "VAULTWICK_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# vaultwick_fuzzer(name SOURCES ... [LIBS ...]): a libFuzzer target, built only
# in the clang fuzzer build; scripts/test runs each one for a bounded time.
function(vaultwick_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT VAULTWICK_SANITIZE STREQUAL "fuzzer")
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${VAULTWICK_WARNINGS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE vaultwick_common ${ARG_LIBS})
  set_property(GLOBAL APPEND PROPERTY VAULTWICK_FUZZERS ${name})
endfunction()

# vaultwick_benchmark(name SOURCES ... [LIBS ...]): figures, never pass/fail.
function(vaultwick_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT VAULTWICK_SANITIZE STREQUAL "")
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${VAULTWICK_WARNINGS})
  target_link_libraries(${name} PRIVATE vaultwick_common ${ARG_LIBS})
endfunction()

function(vaultwick_finish_targets)
  get_property(fuzzers GLOBAL PROPERTY VAULTWICK_FUZZERS)
  file(WRITE ${CMAKE_BINARY_DIR}/fuzzers.txt "")
  foreach(f ${fuzzers})
    file(APPEND ${CMAKE_BINARY_DIR}/fuzzers.txt "${f}\n")
  endforeach()
endfunction()
