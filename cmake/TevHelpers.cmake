# Helpers shared by every folder's CMakeLists.txt.

# tev_library(NAME [CLIENT] [SOURCES ...] [LIBS ...])
# A static library from the listed sources, or from every *.cc of the
# current folder when none are listed. CLIENT marks a client library whose
# exported names go into libtarvelon.so.
function(tev_library name)
  cmake_parse_arguments(A "CLIENT" "" "SOURCES;LIBS" ${ARGN})
  if(NOT A_SOURCES)
    file(GLOB A_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  endif()
  if(NOT A_SOURCES)
    # Nothing written yet: an interface target keeps dependants linking.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${A_LIBS} Threads::Threads)
    return()
  endif()
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_LIBS} Threads::Threads ${CMAKE_DL_LIBS})
  if(A_CLIENT)
    set_property(GLOBAL APPEND PROPERTY TEV_CLIENT_LIBS ${name})
  endif()
endfunction()

# tev_glob_tests(LIBS ...): every *_test.cc of the current folder becomes one
# GoogleTest executable registered with CTest.
find_package(GTest REQUIRED)
function(tev_glob_tests)
  cmake_parse_arguments(A "" "" "LIBS;EXTRA" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    tev_gtest(${name} SOURCES ${src} ${A_EXTRA} LIBS ${A_LIBS})
  endforeach()
endfunction()

# tev_gtest(NAME SOURCES ... LIBS ...)
function(tev_gtest name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} tev_test_support GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
