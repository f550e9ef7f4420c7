# Holds every include of the tree against the layer table (LayerTable.cmake):
# an include of a folder not in the including folder's row fails the build.
# A row's folder may be nested (tests/support): a file belongs to the longest
# row folder that holds it.
#
# Every form of include is resolved as the compiler would find it: a quoted
# name next to the including file first, then from the top of the tree;
# angle brackets from the top only; "./" and "../" against the including
# file's folder. What resolves outside the tree or under no top-level folder
# of it (system headers, oscpack's osc/ and ip/) is not ours to check; what
# lands in a top-level folder without a row is refused too.
#   cmake -DSOURCE_DIR=<root> [-DLAYERS=<row|row|...>] -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/LayerTable.cmake)
set(layers ${vantrel_layers})
if(DEFINED LAYERS)
  string(REPLACE "|" ";" layers "${LAYERS}")  # the test's own tables, rows split by |
endif()

set(folders "")
foreach(row IN LISTS layers)
  string(REPLACE ":" ";" parts "${row}")
  list(GET parts 0 folder)
  list(APPEND folders ${folder})
  set(allowed_${folder} "${folder}")
  set(edges_${folder} "")
  list(LENGTH parts n)
  if(n GREATER 1)
    list(GET parts 1 below)
    string(REPLACE " " ";" below "${below}")
    list(APPEND allowed_${folder} ${below})
    set(edges_${folder} ${below})
  endif()
endforeach()
set(tops "")  # the top-level folders the table speaks of
foreach(folder IN LISTS folders)
  string(REGEX MATCH "^[^/]+" top "${folder}")
  list(APPEND tops ${top})
  foreach(to IN LISTS edges_${folder})
    if(NOT to IN_LIST folders)
      message(FATAL_ERROR "the layer table: ${folder} names ${to}, which has no row")
    endif()
  endforeach()
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

# The row of a path relative to the top ("" when none holds it): the longest
# row folder it lies in.
function(row_of rel out)
  set(best "")
  string(LENGTH "" best_length)
  foreach(folder IN LISTS folders)
    string(LENGTH "${folder}" length)
    string(FIND "${rel}/" "${folder}/" at)
    if(at EQUAL 0 AND length GREATER best_length)
      set(best "${folder}")
      set(best_length ${length})
    endif()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

# Where `name` (as written between the quotes or brackets) leads from `dir`:
# a path relative to the top, or "" when it leaves the tree's own folders.
function(resolve_include dir name angle out)
  set(candidates "")
  if(NOT angle)
    list(APPEND candidates "${dir}")
  endif()
  list(APPEND candidates "${SOURCE_DIR}")
  set(found "")
  foreach(base IN LISTS candidates)
    get_filename_component(path "${name}" ABSOLUTE BASE_DIR "${base}")
    if(EXISTS "${path}" AND NOT found)
      set(found "${path}")
    endif()
  endforeach()
  if(NOT found)
    # A file that is not there (yet): read the name as the compiler's first
    # look would; a relative one against its own folder.
    if(NOT angle AND name MATCHES "^\\.\\.?/")
      get_filename_component(found "${name}" ABSOLUTE BASE_DIR "${dir}")
    else()
      get_filename_component(found "${name}" ABSOLUTE BASE_DIR "${SOURCE_DIR}")
    endif()
  endif()
  file(RELATIVE_PATH rel "${SOURCE_DIR}" "${found}")
  string(REGEX MATCH "^[^/]+" top "${rel}")
  if(rel MATCHES "^\\.\\./" OR NOT rel MATCHES "/"
     OR NOT (IS_DIRECTORY "${SOURCE_DIR}/${top}" OR top IN_LIST tops))
    set(rel "")
  endif()
  set(${out} "${rel}" PARENT_SCOPE)
endfunction()

set(include_line "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
set(failures "")
set(scanned "")
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE sources LIST_DIRECTORIES false
       "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.hpp" "${SOURCE_DIR}/${folder}/*.c"
       "${SOURCE_DIR}/${folder}/*.cc" "${SOURCE_DIR}/${folder}/*.cpp" "${SOURCE_DIR}/${folder}/*.inc"
       "${SOURCE_DIR}/${folder}/*.rc")
  foreach(source IN LISTS sources)
    if(source IN_LIST scanned)
      continue()  # a nested row's file, already read under its own row
    endif()
    list(APPEND scanned "${source}")
    file(RELATIVE_PATH source_rel "${SOURCE_DIR}" "${source}")
    row_of("${source_rel}" from)
    get_filename_component(dir "${source}" DIRECTORY)
    file(STRINGS "${source}" hits REGEX "${include_line}")
    foreach(hit IN LISTS hits)
      string(REGEX MATCH "${include_line}" hit "${hit}")
      set(angle FALSE)
      if(CMAKE_MATCH_1 STREQUAL "<")
        set(angle TRUE)
      endif()
      resolve_include("${dir}" "${CMAKE_MATCH_2}" ${angle} target)
      if(target STREQUAL "")
        continue()
      endif()
      row_of("${target}" to)
      if(to STREQUAL "" OR NOT to IN_LIST allowed_${from})
        if(to STREQUAL "")
          set(to "a folder without a row")
        endif()
        string(STRIP "${hit}" hit)
        string(APPEND failures
               "  ${source_rel}: ${hit} reaches ${to} (${from} may include: ${allowed_${from}})\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "includes across the layers:\n${failures}")
endif()
