# Fails when a core file under SOURCE_DIR includes a platform header, a back-end's
# header or a header of a layer above its own: the shared include directory lets the
# compiler take any of them.
#   cmake -DSOURCE_DIR=<src> -P check_includes.cmake
cmake_minimum_required(VERSION 3.20)

# Lowest first: a file may include its own layer's headers and those of the layers
# below. platform is its interfaces only, never a back-end's folder.
set(layers platform log process link line exchange job app)

set(faults "")
set(allowed "")
foreach(layer IN LISTS layers)
  list(APPEND allowed ${layer})
  file(GLOB files ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cpp)
  foreach(file IN LISTS files)
    file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include")
    foreach(include IN LISTS includes)
      if(include MATCHES "<([^>]+)>")
        # The standard library's headers have no extension and no folder.
        if(CMAKE_MATCH_1 MATCHES "[./]")
          list(APPEND faults "${name}: includes the platform header <${CMAKE_MATCH_1}>")
        endif()
      elseif(include MATCHES "\"(platform/[^\"/]+/[^\"]+)\"")
        list(APPEND faults "${name}: includes the back-end header \"${CMAKE_MATCH_1}\"")
      elseif(include MATCHES "\"(([a-z_0-9]+)/[^\"/]+)\"")
        if(NOT CMAKE_MATCH_2 IN_LIST allowed)
          list(APPEND faults "${name}: includes \"${CMAKE_MATCH_1}\" of a layer above its own")
        endif()
      else()
        list(APPEND faults "${name}: includes ${include}, no core layer's header")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n" report)
  message(FATAL_ERROR "${report}")
endif()
list(LENGTH allowed layer_count)
message(STATUS "The includes of ${layer_count} layers follow the layering")
