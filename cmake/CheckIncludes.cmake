# SPDX-License-Identifier: MIT
# cmake -DFORBIDDEN=a/,b/ -DSOURCES=x.cpp,y.h -DSTAMP=file -P CheckIncludes.cmake
# Fails, naming the file and the line, when a source includes a header of a
# forbidden folder; otherwise touches STAMP.
string(REPLACE "," ";" forbidden "${FORBIDDEN}")
string(REPLACE "," ";" sources "${SOURCES}")
set(found "")
foreach(source IN LISTS sources)
  file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line IN LISTS lines)
    foreach(folder IN LISTS forbidden)
      string(FIND "${line}" "\"${folder}" quoted)
      string(FIND "${line}" "<${folder}" angled)
      if(NOT quoted EQUAL -1 OR NOT angled EQUAL -1)
        string(APPEND found "\n  ${source}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "Includes across a boundary that must hold:${found}")
endif()
file(TOUCH "${STAMP}")
