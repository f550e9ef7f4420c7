# The layer check catches what it is for: the tree as it is passes; an
# include planted across the layers in any form (angle brackets, a relative
# path, a name from the top), and a table with a circle, fail it.
#   cmake -DSOURCE_DIR=<root> -DWORK_DIR=<scratch> -P LayersTest.cmake
cmake_minimum_required(VERSION 3.20)
set(check ${SOURCE_DIR}/cmake/CheckLayers.cmake)
function(run_check expect_ok pattern)
  execute_process(COMMAND ${CMAKE_COMMAND} ${ARGN} -P ${check}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(expect_ok AND NOT rc EQUAL 0)
    message(FATAL_ERROR "expected to pass, failed:\n${out}")
  elseif(NOT expect_ok AND (rc EQUAL 0 OR NOT out MATCHES "${pattern}"))
    message(FATAL_ERROR "expected to fail naming '${pattern}', got (${rc}):\n${out}")
  endif()
endfunction()

run_check(TRUE "" -DSOURCE_DIR=${SOURCE_DIR})

file(REMOVE_RECURSE ${WORK_DIR})
file(WRITE ${WORK_DIR}/input/Fine.cpp "#include \"platform/Hid.h\"\n#include \"osc/OscTypes.h\"\n"
                                      "#include <linux/hidraw.h>\n#include \"./Fine.h\"\n")
file(WRITE ${WORK_DIR}/calibration/Fine.cpp "#include <input/TouchPipeline.h>\n")
file(WRITE ${WORK_DIR}/bench/Fine.cpp "#include \"tests/support/SimControl.h\"\n")
file(WRITE ${WORK_DIR}/tests/input/Fine.cpp "#include \"../support/WaitFor.h\"\n#include \"app/X.h\"\n")
run_check(TRUE "" -DSOURCE_DIR=${WORK_DIR})

# Each form of include is found, wherever the file it names stands (or not).
file(WRITE ${WORK_DIR}/output/TouchOutputs.h "#pragma once\n")
file(MAKE_DIRECTORY ${WORK_DIR}/installer)  # a folder of the tree without a row
foreach(planted IN ITEMS "input/Planted.h|<app/ServiceApp.h>"
                         "input/Planted.h|\"../output/TouchOutputs.h\""
                         "input/deep/Planted.cpp|\"../../output/Missing.h\""
                         "input/Planted.h|\"app/ServiceApp.h\""
                         "platform/Up.h|\"output/TouchOutputs.h\""
                         "tools/Planted.h|\"tests/support/SimControl.h\""
                         "bench/Planted.h|\"tests/input/MemoryHid.h\""
                         "tests/support/Planted.h|<tests/e2e/X.h>"
                         "tests/Planted.h|\"bench/X.h\""
                         "app/Planted.h|\"installer/X.h\"")
  string(REPLACE "|" ";" planted "${planted}")
  list(GET planted 0 file)
  list(GET planted 1 include)
  file(WRITE ${WORK_DIR}/${file} "#pragma once\n#include ${include}\n")
  string(REPLACE "." "\\." pattern "${file}: #include ${include}")
  run_check(FALSE "${pattern}" -DSOURCE_DIR=${WORK_DIR})
  file(REMOVE ${WORK_DIR}/${file})
endforeach()
run_check(TRUE "" -DSOURCE_DIR=${WORK_DIR})

run_check(FALSE "circle among: a;b" "-DLAYERS=c:|a:b c|b:a" -DSOURCE_DIR=${WORK_DIR})
file(REMOVE_RECURSE ${WORK_DIR})
