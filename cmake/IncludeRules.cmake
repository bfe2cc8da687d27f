# SPDX-License-Identifier: MIT
# tarnwick_check_includes(TARGET "folder/;folder/"): the build of TARGET fails
# when one of its sources includes a header of a folder named. The check runs
# before the target's sources compile, and again whenever a source changes.
function(tarnwick_check_includes target forbidden)
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  set(paths)
  foreach(source IN LISTS sources)
    list(APPEND paths ${source_dir}/${source})
  endforeach()
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}_includes.stamp)
  string(REPLACE ";" "," forbidden_text "${forbidden}")
  string(REPLACE ";" "," paths_text "${paths}")
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} "-DFORBIDDEN=${forbidden_text}" "-DSOURCES=${paths_text}" "-DSTAMP=${stamp}"
            -P ${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake
    DEPENDS ${paths} ${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake
    COMMENT "Checking that ${target} includes nothing of ${forbidden_text}"
    VERBATIM)
  add_custom_target(${target}_includes DEPENDS ${stamp})
  add_dependencies(${target} ${target}_includes)
endfunction()
