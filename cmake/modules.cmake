include(GoogleTest)
# One static library per module folder, built from every .cpp in it except
# tests; the module's *_test.cpp files form its own unit-test program, so a
# module under construction never breaks another module's tests.

# The *_test.cpp files of dir, less those that run only on POSIX when the
# build is for Windows.
function(tblconv_test_sources out dir)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*_test.cpp)
  if(WIN32)
    foreach(skip ${TBLCONV_POSIX_ONLY_TESTS})
      list(FILTER tests EXCLUDE REGEX "/${skip}$")
    endforeach()
  endif()
  set(${out} ${tests} PARENT_SCOPE)
endfunction()

function(tblconv_module name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "_test\\.cpp$")
  add_library(tblconv_${name} STATIC ${srcs})
  target_include_directories(tblconv_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  foreach(dep ${ARGN})
    target_link_libraries(tblconv_${name} PUBLIC tblconv_${dep})
  endforeach()
  if(TBLCONV_UNIT_TESTS AND (NOT CMAKE_CROSSCOMPILING OR name IN_LIST TBLCONV_CROSS_TEST_MODULES))
    tblconv_test_sources(tests ${dir})
    if(tests)
      add_executable(${name}_tests ${tests})
      target_link_libraries(${name}_tests PRIVATE tblconv_${name} tblconv_testenv GTest::gtest_main)
      # Cross-built tests are listed when ctest runs them (under Wine), not
      # at build time.
      if(CMAKE_CROSSCOMPILING)
        set(mode PRE_TEST)
      else()
        set(mode POST_BUILD)
      endif()
      gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 DISCOVERY_MODE ${mode}
        PROPERTIES ENVIRONMENT "TBLCONV_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
    endif()
  endif()
endfunction()

function(tblconv_module_sources name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "_test\\.cpp$")
  target_sources(tblconv_${name} PRIVATE ${srcs})
  if(TARGET ${name}_tests)
    tblconv_test_sources(tests ${dir})
    target_sources(${name}_tests PRIVATE ${tests})
  endif()
endfunction()
