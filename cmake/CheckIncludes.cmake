# The include order: fails when a source in one of the program's folders
# includes a folder above its own layer, or one beside it that its libraries
# do not link.
#
#   cmake -DROOT=<source tree> -P cmake/CheckIncludes.cmake
#
# The table mirrors the target_link_libraries of each folder's libraries: a
# folder may include its own files and those of the folders listed for it.
# tests/, tour/, bench/ and fuzz/ are users on top and are not checked.
cmake_minimum_required(VERSION 3.25)

set(folders texts platform comm controls forms catalogue ports launch transfer app tools)
# texts/ is below everything and includes no other folder; every folder may include it.
set(allowed_texts "")
set(allowed_platform texts)
set(allowed_comm texts platform)
set(allowed_controls texts platform)
set(allowed_forms texts platform)
set(allowed_catalogue texts platform forms)
set(allowed_ports texts platform forms)
set(allowed_launch texts platform forms ports)
set(allowed_transfer texts platform comm controls forms)
set(allowed_app texts platform comm controls forms catalogue ports launch transfer)
set(allowed_tools texts platform comm ports transfer)

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P CheckIncludes.cmake")
endif()

set(found 0)
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${ROOT}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS includes)
      string(STRIP "${line}" line)
      set(wrong "")
      if(line MATCHES "\\.\\./")
        # A relative path around the include roots would slip past the build.
        set(wrong "reaches out of ${folder}/ by a relative path")
      elseif(line MATCHES "include[ \t]*[\"<]([A-Za-z_]+)/")
        set(included ${CMAKE_MATCH_1})
        if(included IN_LIST folders AND NOT included STREQUAL folder AND NOT included IN_LIST allowed_${folder})
          string(REPLACE ";" " " may "${allowed_${folder}}")
          set(wrong "${folder}/ may include only: ${may}")
        endif()
      endif()
      if(wrong)
        message(NOTICE "${source}: ${line} (${wrong})")
        math(EXPR found "${found} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

if(found GREATER 0)
  message(FATAL_ERROR "${found} include(s) against the layer order")
endif()
