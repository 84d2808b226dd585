# Fails when a source file includes a project header from a folder above its
# own in the layer order of layers.cmake. Run as
#   cmake -DSOURCE_DIR=<src> -P check_layers.cmake
# Prints every upward include with its file and line.
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)

if(NOT SOURCE_DIR)
    message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

# The layer of a path relative to SOURCE_DIR: the longest listed folder that
# holds it; empty when none does.
function(layer_of path out)
    set(best "")
    foreach(folder IN LISTS VIREO_LAYERS)
        string(LENGTH "${folder}" length)
        string(LENGTH "${best}" bestLength)
        if(path MATCHES "^${folder}/[^/]+$" AND length GREATER bestLength)
            set(best "${folder}")
        endif()
    endforeach()
    set(${out} "${best}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
set(failures 0)
foreach(source IN LISTS sources)
    layer_of("${source}" own)
    if(own STREQUAL "")
        message(SEND_ERROR "${source}: its folder has no place in the layer list")
        math(EXPR failures "${failures} + 1")
        continue()
    endif()
    list(FIND VIREO_LAYERS "${own}" ownRank)
    file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^#include \"[^\"]+\"")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
        if(NOT EXISTS ${SOURCE_DIR}/${header})
            continue() # a header of another tree (sim/, tools/) or a system one
        endif()
        layer_of("${header}" theirs)
        list(FIND VIREO_LAYERS "${theirs}" theirRank)
        if(theirRank GREATER ownRank)
            message(SEND_ERROR "${source} includes ${header}: ${theirs} is above ${own}")
            math(EXPR failures "${failures} + 1")
        endif()
    endforeach()
endforeach()
if(failures GREATER 0)
    message(FATAL_ERROR "${failures} include(s) run against the layer order")
endif()
list(LENGTH sources count)
message(STATUS "layers: ${count} files, every include runs downward or within its folder")
