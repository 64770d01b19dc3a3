# The native build: the logic on the simulated Windows, tested with GoogleTest.
option(EDIDLOAD_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(EDIDLOAD_FUZZ "Build the libFuzzer targets (clang)" OFF)
option(EDIDLOAD_BENCH "Build the benchmarks" OFF)

if(EDIDLOAD_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

file(GLOB EDIDLOAD_SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/sim/*.cpp)

add_library(edidload_logic STATIC
  ${EDIDLOAD_LOGIC_SOURCES} ${EDIDLOAD_SIM_SOURCES} ${CMAKE_SOURCE_DIR}/platform/crt.cpp)
target_include_directories(edidload_logic PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)
target_compile_options(edidload_logic PRIVATE ${EDIDLOAD_WARNINGS})

# The in-process test-double GPU driver.
file(GLOB EDIDLOAD_DRIVER_DOUBLE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/driver_double/*.cpp)
list(FILTER EDIDLOAD_DRIVER_DOUBLE_SOURCES EXCLUDE REGEX ".*_dll\\.cpp$")
add_library(driver_double STATIC ${EDIDLOAD_DRIVER_DOUBLE_SOURCES})
target_link_libraries(driver_double PUBLIC edidload_logic)
target_include_directories(driver_double PUBLIC ${CMAKE_SOURCE_DIR}/tests)

find_package(GTest REQUIRED)
include(GoogleTest)

# One test program per folder of tests/unit, each test in its own process.
file(GLOB EDIDLOAD_TEST_DIRS LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/tests/unit/*)
foreach(dir ${EDIDLOAD_TEST_DIRS})
  if(IS_DIRECTORY ${dir})
    get_filename_component(name ${dir} NAME)
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
    if(sources)
      add_executable(test_${name} ${sources})
      target_link_libraries(test_${name} PRIVATE driver_double edidload_logic GTest::gtest GTest::gtest_main)
      target_include_directories(test_${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
      gtest_discover_tests(test_${name}
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        PROPERTIES ENVIRONMENT "EDIDLOAD_FIXTURES=${CMAKE_SOURCE_DIR}/tests/fixtures")
    endif()
  endif()
endforeach()

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/fuzz/CMakeLists.txt AND EDIDLOAD_FUZZ)
  add_subdirectory(tests/fuzz)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/bench/CMakeLists.txt AND EDIDLOAD_BENCH)
  add_subdirectory(tests/bench)
endif()
