# Lays out a fresh demo installation: the program, the virtual programmer,
# the command-line transfer tool, the settings files, the catalogue and
# program images for the devices it lists (one is missing on purpose).
file(REMOVE_RECURSE ${DEST})
file(MAKE_DIRECTORY ${DEST}/programs)
file(COPY ${SOURCE}/ DESTINATION ${DEST})
file(COPY ${PROGRAM} ${VPROG} ${TRANSFER} DESTINATION ${DEST})
foreach(image at90s2313 at90s8515 atmega103 pic16f84 w78e52)
  string(REPEAT "${image} program image " 64 content)
  file(WRITE ${DEST}/programs/${image}.bin "${content}")
endforeach()
# The stand-in programming tool must stay executable whatever the checkout did.
file(CHMOD ${DEST}/Qelt.EXE PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)
