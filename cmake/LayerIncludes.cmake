# vantrel_layer_includes(<target> <folder>)
# Puts on <target>'s public include path a view of the tree that holds only
# the folders <folder>'s row of the layer table allows (links into the
# source tree under the build tree's layers/<folder>), so that an include of
# a higher layer in the form "app/ServiceApp.h" or <app/ServiceApp.h> does
# not compile there. A library's users get the views of what it links, all
# within their own rows. CheckLayers.cmake stays the guard for every form.
include(${CMAKE_CURRENT_LIST_DIR}/LayerTable.cmake)

function(vantrel_layer_includes target folder)
  set(allowed "")
  foreach(row IN LISTS vantrel_layers)
    if(row MATCHES "^${folder}:(.*)$")
      string(REPLACE " " ";" allowed "${folder} ${CMAKE_MATCH_1}")
      list(REMOVE_ITEM allowed "")
    endif()
  endforeach()
  if(NOT allowed)
    message(FATAL_ERROR "vantrel_layer_includes: ${folder} has no row in the layer table")
  endif()
  set(view ${PROJECT_BINARY_DIR}/layers/${folder})
  # Made afresh at each configure: a folder taken out of the row goes.
  file(GLOB stale LIST_DIRECTORIES true ${view}/*)
  if(stale)
    file(REMOVE ${stale})  # the links only, never what they lead to
  endif()
  file(MAKE_DIRECTORY ${view})
  foreach(to IN LISTS allowed)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${to} ${view}/${to} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${view})
  else()
    target_include_directories(${target} PUBLIC ${view})
  endif()
endfunction()
