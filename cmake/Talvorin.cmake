include(GoogleTest)

# talvorin_add_test(<name> [QT] [LABELS l...] SOURCES s...)
# QT tests get a QApplication on the offscreen platform before the tests run.
function(talvorin_add_test name)
  cmake_parse_arguments(T "QT" "" "SOURCES;LABELS;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  if(T_QT)
    target_link_libraries(${name} PRIVATE tv_test_qt_main tv_ui Qt6::Test GTest::gtest ${T_LIBS})
  else()
    target_link_libraries(${name} PRIVATE tv_test_support tv_logic GTest::gtest GTest::gtest_main ${T_LIBS})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS "${T_LABELS}"
    DISCOVERY_TIMEOUT 60)
endfunction()
