# Lays out the sample device catalogue in ${DEST}/Devices and the program
# images of the devices it lists in ${DEST}/programs (one is missing on
# purpose): the demo installation's and the package's defaults.
file(COPY ${SOURCE}/Devices DESTINATION ${DEST})
file(MAKE_DIRECTORY ${DEST}/programs)
foreach(image at90s2313 at90s8515 atmega103 pic16f84 w78e52)
  string(REPEAT "${image} program image " 64 content)
  file(WRITE ${DEST}/programs/${image}.bin "${content}")
endforeach()
