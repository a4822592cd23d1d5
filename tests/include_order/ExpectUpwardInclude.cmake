# Runs the include-order check on the fixture tree, whose transfer/ includes
# app/ once, and passes only when the check fails naming exactly that include.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${FIXTURE} -P ${CHECK}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")
if(result EQUAL 0)
  message(FATAL_ERROR "the check passed a tree with an upward include")
endif()
if(NOT output MATCHES "transfer/Sample.cpp: #include \"app/Main.h\"")
  message(FATAL_ERROR "the check did not name the upward include")
endif()
if(NOT output MATCHES "1 include\\(s\\) against the layer order")
  message(FATAL_ERROR "the check reported more than the one upward include")
endif()
