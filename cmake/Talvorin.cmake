# talvorin_folder_includes(<target> <PUBLIC|PRIVATE> <folder>): the target
# sees <folder>/ under its own name (#include "<folder>/x.h") and nothing
# else of the source tree. The include root is a directory of the build that
# holds one link, <folder> -> the source folder; the folders below come only
# through the libraries the target links, so an include that points up the
# order finds no file.
function(talvorin_folder_includes target scope folder)
  set(root ${CMAKE_BINARY_DIR}/include/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} ${scope} ${root})
endfunction()

# talvorin_add_test(<name> [QT] [LABELS l...] SOURCES s... LIBS l...)
# Each test links what it includes. QT tests get a QApplication on the
# offscreen platform before the tests run. Label "linux": tests of the POSIX
# stand-ins alone, built on Linux only (the Windows build runs the rest).
function(talvorin_add_test name)
  cmake_parse_arguments(T "QT" "" "SOURCES;LABELS;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  if(T_QT)
    target_link_libraries(${name} PRIVATE tv_test_qt_main Qt6::Test GTest::gtest ${T_LIBS})
  else()
    target_link_libraries(${name} PRIVATE tv_test_support GTest::gtest GTest::gtest_main ${T_LIBS})
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Under an emulator (Wine) every start costs, so a program is one test.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  else()
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS "${T_LABELS}"
      DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
