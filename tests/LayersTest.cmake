# The layer check catches what it is for: the tree as it is passes; an
# include planted across the layers, and a table with a circle, fail it.
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
file(WRITE ${WORK_DIR}/input/Planted.h "#pragma once\n#include \"app/ServiceApp.h\"\n")
file(WRITE ${WORK_DIR}/input/Fine.cpp "#include \"platform/Hid.h\"\n#include \"osc/OscTypes.h\"\n")
file(WRITE ${WORK_DIR}/calibration/Fine.cpp "#include \"input/TouchPipeline.h\"\n")
run_check(FALSE "input/Planted.h: #include \"app/ServiceApp.h\"" -DSOURCE_DIR=${WORK_DIR})
file(REMOVE ${WORK_DIR}/input/Planted.h)
run_check(TRUE "" -DSOURCE_DIR=${WORK_DIR})
file(WRITE ${WORK_DIR}/platform/Up.h "#include \"common/Fine.h\"\n#include \"output/TouchOutputs.h\"\n")
run_check(FALSE "platform/Up.h: #include \"output/" -DSOURCE_DIR=${WORK_DIR})

run_check(FALSE "circle among: a;b" "-DLAYERS=c:|a:b c|b:a" -DSOURCE_DIR=${WORK_DIR})
file(REMOVE_RECURSE ${WORK_DIR})
