# The windows build: edidload.exe, the test-double driver nvapi64.dll, the
# marker DLL of the planting tests, and the end-to-end tests under Wine.

# Statically linked: the import table names only system DLLs (KERNEL32.dll and
# msvcrt.dll), never a compiler runtime DLL that could be planted beside the tool.
set(EDIDLOAD_STATIC_LINK -static -static-libgcc -static-libstdc++)

add_executable(edidload ${EDIDLOAD_LOGIC_SOURCES} ${CMAKE_SOURCE_DIR}/tool/main.cpp
  ${CMAKE_SOURCE_DIR}/platform/crt.cpp)
target_include_directories(edidload PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)
target_compile_options(edidload PRIVATE ${EDIDLOAD_WARNINGS})
target_compile_definitions(edidload PRIVATE UNICODE _UNICODE)
target_link_options(edidload PRIVATE ${EDIDLOAD_STATIC_LINK})

# The test-double GPU driver as a real nvapi64.dll.
add_library(nvapi64 SHARED
  ${CMAKE_SOURCE_DIR}/tests/driver_double/driver_double.cpp
  ${CMAKE_SOURCE_DIR}/tests/driver_double/nvapi64_dll.cpp)
set_target_properties(nvapi64 PROPERTIES PREFIX "" OUTPUT_NAME nvapi64
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/driver_double)
target_include_directories(nvapi64 PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR})
target_link_options(nvapi64 PRIVATE ${EDIDLOAD_STATIC_LINK})

# A DLL named nvapi64.dll that leaves a marker file when it is loaded: planted
# where the tool must never load from.
add_library(marker_nvapi64 SHARED ${CMAKE_SOURCE_DIR}/tests/e2e/marker_dll.cpp)
set_target_properties(marker_nvapi64 PROPERTIES PREFIX "" OUTPUT_NAME nvapi64
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/marker)
target_link_options(marker_nvapi64 PRIVATE ${EDIDLOAD_STATIC_LINK})

# Windows-side test programs (tests/windows/*.cpp), each built with the logic.
file(GLOB EDIDLOAD_WINDOWS_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/*.cpp)
foreach(source ${EDIDLOAD_WINDOWS_TESTS})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source} ${EDIDLOAD_LOGIC_SOURCES} ${CMAKE_SOURCE_DIR}/platform/crt.cpp)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)
  target_link_options(${name} PRIVATE ${EDIDLOAD_STATIC_LINK})
endforeach()

# End to end under Wine. Every test shares the build tree's Wine prefixes, so
# they run one at a time.
find_program(EDIDLOAD_WINE NAMES wine wine64)
set(EDIDLOAD_E2E ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.sh)
set(EDIDLOAD_E2E_ENV
  "EDIDLOAD_BUILD=${CMAKE_BINARY_DIR}"
  "EDIDLOAD_SOURCE=${CMAKE_SOURCE_DIR}"
  "EDIDLOAD_OBJDUMP=x86_64-w64-mingw32-objdump")
file(GLOB EDIDLOAD_E2E_CASES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/cases/*.sh)
add_test(NAME e2e.prefix COMMAND ${EDIDLOAD_E2E} prefix)
set_tests_properties(e2e.prefix PROPERTIES FIXTURES_SETUP wine_prefix
  ENVIRONMENT "${EDIDLOAD_E2E_ENV}" RESOURCE_LOCK wine TIMEOUT 600)
foreach(case ${EDIDLOAD_E2E_CASES})
  get_filename_component(name ${case} NAME_WE)
  add_test(NAME e2e.${name} COMMAND ${EDIDLOAD_E2E} ${case})
  set_tests_properties(e2e.${name} PROPERTIES FIXTURES_REQUIRED wine_prefix
    ENVIRONMENT "${EDIDLOAD_E2E_ENV}" RESOURCE_LOCK wine TIMEOUT 300)
endforeach()
