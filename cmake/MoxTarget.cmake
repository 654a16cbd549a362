# One place that sets warnings and sanitizers on a target; every target of the
# project calls it, nothing is set globally.
function(mox_configure_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(MOX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(MOX_BUILD_FUZZ)
    # The library itself is instrumented for coverage feedback and checked by
    # the sanitizers; the fuzzer targets add the libFuzzer driver.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
                                             -fno-sanitize-recover=undefined -g)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  elseif(MOX_SANITIZE STREQUAL "address")
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  elseif(MOX_SANITIZE STREQUAL "thread")
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  endif()
endfunction()

# A fuzz target (a source defining LLVMFuzzerTestOneInput). With MOX_BUILD_FUZZ
# it becomes a libFuzzer binary with ASan and UBSan (clang); otherwise a replay
# driver that feeds every file of fuzz/corpus/<name>/ to the target once,
# registered as a test so that every build checks the seeds and past crashes.
function(mox_add_fuzzer name)
  if(MOX_BUILD_FUZZ)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE mox_utils_static)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined -g)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  else()
    add_executable(${name}_replay ${ARGN} ${PROJECT_SOURCE_DIR}/fuzz/ReplayMain.cpp)
    target_link_libraries(${name}_replay PRIVATE mox_utils_static)
    mox_configure_target(${name}_replay)
    if(MOX_BUILD_TESTS)
      add_test(NAME fuzz_replay.${name}
               COMMAND ${name}_replay ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    endif()
  endif()
endfunction()
