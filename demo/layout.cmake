# Lays out a fresh demo installation: the program, the virtual programmer,
# the command-line transfer tool, the settings files, the stand-in
# programming tool, the catalogue and its program images.
file(REMOVE_RECURSE ${DEST})
include(${CMAKE_CURRENT_LIST_DIR}/catalogue.cmake)
file(COPY ${SOURCE}/ DESTINATION ${DEST})
file(COPY ${PROGRAM} ${VPROG} ${TRANSFER} DESTINATION ${DEST})
# The stand-in programming tool must stay executable whatever the checkout did.
file(CHMOD ${DEST}/Qelt.EXE PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)
