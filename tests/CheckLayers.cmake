# The layers hold: the pure input core includes nothing from the
# application, and the outputs nothing from the input pipeline (they share
# only common/). Run as: cmake -DSOURCE_DIR=<root> -P CheckLayers.cmake
set(rules "input:app/" "output:input/" "output:app/" "common:input/" "common:output/"
          "common:app/" "platform:input/" "platform:output/" "platform:app/")
set(failures "")
foreach(rule IN LISTS rules)
  string(REPLACE ":" ";" parts "${rule}")
  list(GET parts 0 folder)
  list(GET parts 1 forbidden)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" hits REGEX "^[ \t]*#[ \t]*include[ \t]*\"${forbidden}")
    foreach(hit IN LISTS hits)
      file(RELATIVE_PATH rel "${SOURCE_DIR}" "${source}")
      string(APPEND failures "  ${rel}: ${hit}\n")
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "includes across the layers:\n${failures}")
endif()
