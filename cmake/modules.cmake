include(GoogleTest)
# One static library per module folder, built from every .cpp in it except
# tests; the module's *_test.cpp files form its own unit-test program, so a
# module under construction never breaks another module's tests.

function(tblconv_module name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "_test\\.cpp$")
  add_library(tblconv_${name} STATIC ${srcs})
  target_include_directories(tblconv_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  foreach(dep ${ARGN})
    target_link_libraries(tblconv_${name} PUBLIC tblconv_${dep})
  endforeach()
  if(TBLCONV_TESTS AND NOT CMAKE_CROSSCOMPILING)
    file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*_test.cpp)
    if(tests)
      add_executable(${name}_tests ${tests})
      target_link_libraries(${name}_tests PRIVATE tblconv_${name} GTest::gtest_main)
      gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "TBLCONV_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
    endif()
  endif()
endfunction()

function(tblconv_module_sources name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "_test\\.cpp$")
  target_sources(tblconv_${name} PRIVATE ${srcs})
  if(TBLCONV_TESTS AND NOT CMAKE_CROSSCOMPILING AND TARGET ${name}_tests)
    file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*_test.cpp)
    target_sources(${name}_tests PRIVATE ${tests})
  endif()
endfunction()
