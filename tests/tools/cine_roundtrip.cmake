# A cine file made from the real bone sweep survives, byte for byte, loading
# and saving (mox cine copy) and a trip through PNG pictures (mox cine export,
# then mox cine make from the pictures). Bad input ends in one line on
# standard error and a non-zero status.
#
#   cmake -DMOX=<mox> -DDATA_DIR=<shared data> -DWORK_DIR=<scratch> -P cine_roundtrip.cmake

if(NOT IS_DIRECTORY "${DATA_DIR}/ultrasound")
  set(DATA_DIR /work/shared/data)
endif()
file(GLOB frames "${DATA_DIR}/ultrasound/seq-plus-bone-l14-f*_467x614.gray")
list(SORT frames)
list(LENGTH frames count)
if(NOT count EQUAL 21)
  message(FATAL_ERROR "expected the 21 frames of the bone sweep in ${DATA_DIR}/ultrasound, found ${count}")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

function(mox_run)
  execute_process(COMMAND "${MOX}" ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "mox ${ARGN} failed (${rc}): ${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect_same a b)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${a}" "${b}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${a} and ${b} differ")
  endif()
endfunction()

mox_run(cine make -o "${WORK_DIR}/made.cine" --line-size 467 --num-lines 614 ${frames})
file(SIZE "${WORK_DIR}/made.cine" size)
math(EXPR expected "12 + 21 * (4 + 467 * 614)")
if(NOT size EQUAL expected)
  message(FATAL_ERROR "made.cine has ${size} bytes, expected ${expected}")
endif()
# The frames follow the 21 records, in the order given.
list(GET frames 7 frame7)
math(EXPR offset "12 + 21 * 4 + 7 * 467 * 614")
file(READ "${WORK_DIR}/made.cine" stored OFFSET ${offset} LIMIT 64 HEX)
file(READ "${frame7}" original LIMIT 64 HEX)
if(NOT stored STREQUAL original)
  message(FATAL_ERROR "frame 7 is not stored where the format puts it")
endif()

mox_run(cine info "${WORK_DIR}/made.cine")
if(NOT out MATCHES "frames: +21\n" OR NOT out MATCHES "line size: +467 bytes")
  message(FATAL_ERROR "unexpected info output:\n${out}")
endif()

mox_run(cine copy "${WORK_DIR}/made.cine" "${WORK_DIR}/copied.cine")
expect_same("${WORK_DIR}/made.cine" "${WORK_DIR}/copied.cine")

mox_run(cine export "${WORK_DIR}/copied.cine" "${WORK_DIR}/png")
file(GLOB pictures "${WORK_DIR}/png/*.png")
list(SORT pictures)
list(LENGTH pictures pictureCount)
if(NOT pictureCount EQUAL 21)
  message(FATAL_ERROR "export wrote ${pictureCount} pictures, expected 21")
endif()
mox_run(cine make -o "${WORK_DIR}/from-png.cine" ${pictures})
expect_same("${WORK_DIR}/made.cine" "${WORK_DIR}/from-png.cine")

# Failures: one line on standard error, non-zero status, nothing written.
file(WRITE "${WORK_DIR}/short.gray" "too short")
file(WRITE "${WORK_DIR}/garbage.png" "not a picture at all")
list(GET pictures 0 picture0)
execute_process(COMMAND head -c 3000 "${picture0}" OUTPUT_FILE "${WORK_DIR}/cut.png")
foreach(bad "cine;info;${WORK_DIR}/missing.cine"
            "cine;info;${WORK_DIR}"
            "cine;info;${WORK_DIR}/short.gray"
            "cine;make;-o;${WORK_DIR}/bad.cine;--line-size;467;--num-lines;614;${WORK_DIR}/short.gray"
            "cine;make;-o;${WORK_DIR}/missing/bad.cine;${frame7}"
            "cine;make;-o;${WORK_DIR}/bad.cine;${WORK_DIR}/garbage.png"
            "cine;make;-o;${WORK_DIR}/bad.cine;--line-size;467;--num-lines;614;${WORK_DIR}/cut.png")
  execute_process(COMMAND "${MOX}" ${bad} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX MATCHALL "\n" lines "${err}")
  list(LENGTH lines lineCount)
  if(rc EQUAL 0 OR NOT lineCount EQUAL 1 OR NOT err MATCHES "^mox: ")
    message(FATAL_ERROR "mox ${bad}: status ${rc}, stderr '${err}'")
  endif()
endforeach()
if(EXISTS "${WORK_DIR}/bad.cine")
  message(FATAL_ERROR "a failed make left bad.cine behind")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
