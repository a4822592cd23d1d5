# Lays out the sample device catalogue in ${DEST}/Devices and the program
# images of the devices it lists in ${DEST}/programs (one is missing on
# purpose): the demo installation's and the package's defaults.
file(COPY ${SOURCE}/Devices DESTINATION ${DEST})
file(MAKE_DIRECTORY ${DEST}/programs)
foreach(image at90s2313 at90s8515 atmega103 pic16f84 w78e52)
  string(REPEAT "${image} program image " 64 content)
  file(WRITE ${DEST}/programs/${image}.bin "${content}")
endforeach()

# With ONLY_SHIPPED (the package's defaults), a device whose program image is
# not laid out here is left out of the catalogue: it could never be chosen.
# The catalogue is written as the program keeps it (no empty lines, CR LF
# line ends), so that the program never rewrites it and a user's untouched
# copy stays equal to the package's, which an upgrade then replaces.
if(ONLY_SHIPPED)
  file(READ ${DEST}/Devices/Devices.lst content)
  # Semicolons separate a device's fields, and CMake's list items too.
  string(REPLACE ";" "@FIELD@" content "${content}")
  string(REGEX MATCHALL "[^\n]*\n|[^\n]+$" lines "${content}")
  set(kept "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "\r?\n$" "" line "${line}")
    if(line STREQUAL "")
      continue()
    endif()
    if(line MATCHES "^[^[=]*=([^@\r\n]*)@FIELD@")
      string(REPLACE "\\" "/" image "${CMAKE_MATCH_1}")
      if(NOT EXISTS ${DEST}/programs/${image})
        continue()
      endif()
    endif()
    string(APPEND kept "${line}\r\n")
  endforeach()
  string(REPLACE "@FIELD@" ";" kept "${kept}")
  file(WRITE ${DEST}/Devices/Devices.lst "${kept}")
endif()
