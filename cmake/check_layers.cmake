# The layers test: every file of a folder includes only its own folder's headers and those of the
# folders it uses (the x5_layer table of CMakeLists.txt), so no lower folder includes a higher one.
#   cmake -DX5_SOURCE_DIR=<tree> -DX5_LAYER_RULES="src/core=|src/win=core|..." -P check_layers.cmake
# Rules are FOLDER=USED,USED,... (a folder's sub-folders included); an include counts when its
# first path part names a folder of src/.
cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" rules "${X5_LAYER_RULES}")
file(GLOB entries LIST_DIRECTORIES true RELATIVE ${X5_SOURCE_DIR}/src ${X5_SOURCE_DIR}/src/*)
set(layers)
foreach(entry ${entries})
  if(IS_DIRECTORY ${X5_SOURCE_DIR}/src/${entry})
    list(APPEND layers ${entry})
  endif()
endforeach()

set(failures)
set(checked)
foreach(rule ${rules})
  string(REGEX MATCH "^([^=]+)=(.*)$" matched "${rule}")
  set(folder ${CMAKE_MATCH_1})
  string(REPLACE "," ";" uses "${CMAKE_MATCH_2}")
  list(APPEND checked ${folder})
  get_filename_component(own ${folder} NAME)
  file(GLOB_RECURSE files ${X5_SOURCE_DIR}/${folder}/*.h ${X5_SOURCE_DIR}/${folder}/*.cpp)
  foreach(file ${files})
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z0-9_]+/")
    foreach(line ${includes})
      string(REGEX MATCH "\"(([a-z0-9_]+)/[^\"]*)\"" _ "${line}")
      set(header ${CMAKE_MATCH_1})
      set(target ${CMAKE_MATCH_2})
      if(target IN_LIST layers AND NOT target STREQUAL own AND NOT target IN_LIST uses)
        file(RELATIVE_PATH shown ${X5_SOURCE_DIR} ${file})
        list(JOIN uses ", " allowed)
        list(APPEND failures "${shown} includes ${header}: ${folder} uses only ${allowed}")
      endif()
    endforeach()
  endforeach()
endforeach()

# A new folder must take its place in the table before anything can include it.
foreach(layer ${layers})
  if(NOT "src/${layer}" IN_LIST checked)
    list(APPEND failures "src/${layer} has no place in the layers of CMakeLists.txt")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "layers: an include reaches a folder its own does not use:\n${text}")
endif()
list(LENGTH checked count)
message(STATUS "layers: ${count} folders include only what they use")
