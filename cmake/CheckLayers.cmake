# The layers: which top-level folder may include which. Each folder includes
# only folders below it; an include of a folder not in its row (or of a
# folder above) fails the build. Includes of other trees (oscpack's osc/
# and ip/, system headers) are not ours to check.
#   cmake -DSOURCE_DIR=<root> [-DLAYERS=<row|row|...>] -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.20)
set(layers
  "common:"
  "platform:common"
  "input:common platform"
  "output:common platform"
  "device:common platform"
  "bridge:common platform"
  "calibration:common platform input"
  "app:common platform input output bridge device calibration"
  "tools:common platform device")
if(DEFINED LAYERS)
  string(REPLACE "|" ";" layers "${LAYERS}")  # the test's own tables, rows split by |
endif()

set(folders "")
foreach(row IN LISTS layers)
  string(REPLACE ":" ";" parts "${row}")
  list(GET parts 0 folder)
  list(APPEND folders ${folder})
  set(allowed_${folder} "${folder}")
  list(LENGTH parts n)
  if(n GREATER 1)
    list(GET parts 1 below)
    string(REPLACE " " ";" below "${below}")
    list(APPEND allowed_${folder} ${below})
    set(edges_${folder} ${below})
  endif()
endforeach()

# No circle: peel off folders whose arrows all lead to folders already peeled.
set(left ${folders})
set(peeled "")
while(left)
  set(progress FALSE)
  foreach(folder IN LISTS left)
    set(ready TRUE)
    foreach(to IN LISTS edges_${folder})
      if(NOT to IN_LIST peeled)
        set(ready FALSE)
      endif()
    endforeach()
    if(ready)
      list(APPEND peeled ${folder})
      list(REMOVE_ITEM left ${folder})
      set(progress TRUE)
    endif()
  endforeach()
  if(NOT progress)
    message(FATAL_ERROR "the layer table has a circle among: ${left}")
  endif()
endwhile()

set(failures "")
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp"
       "${SOURCE_DIR}/${folder}/*.rc")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" hits REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z_]+/")
    foreach(hit IN LISTS hits)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([a-z_]+)/.*" "\\1" to "${hit}")
      if(to IN_LIST folders AND NOT to IN_LIST allowed_${folder})
        file(RELATIVE_PATH rel "${SOURCE_DIR}" "${source}")
        string(APPEND failures "  ${rel}: ${hit} (${folder} may include: ${allowed_${folder}})\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "includes across the layers:\n${failures}")
endif()
