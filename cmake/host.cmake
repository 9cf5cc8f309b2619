# The host build: the program over a sandbox machine (platform/host), the
# machine tool, the INT 13h access library, the tests and the benchmarks.
enable_language(ASM)

option(ZAV_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(ZAV_BENCH "Build the benchmarks" ON)
option(ZAV_TSAN "Build with ThreadSanitizer" OFF)
if(ZAV_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(ZAV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
# libFuzzer targets (Clang): everything is built with the coverage the
# fuzzer steers by; the targets themselves get its main.
option(ZAV_FUZZ "Build the fuzz targets (Clang, with ZAV_SANITIZE)" OFF)
if(ZAV_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

find_package(Threads REQUIRED)
set(CURSES_NEED_WIDE TRUE)
find_package(Curses REQUIRED)

# --- Resources: res/update.rc is compiled by windres into the standard .res
# format, which the host build embeds and reads like Windows reads a module.
find_program(WINDRES NAMES x86_64-w64-mingw32-windres windres REQUIRED)
set(ZAV_RES ${CMAKE_BINARY_DIR}/update.res)
add_custom_command(
  OUTPUT ${ZAV_RES}
  COMMAND ${WINDRES} -I ${CMAKE_SOURCE_DIR}/res -I ${CMAKE_SOURCE_DIR} -J rc -O res
          -i ${CMAKE_SOURCE_DIR}/res/update.rc -o ${ZAV_RES}
  DEPENDS ${CMAKE_SOURCE_DIR}/res/update.rc ${CMAKE_SOURCE_DIR}/res/resource.h ${CMAKE_SOURCE_DIR}/res/update.ico
  COMMENT "Compiling resources")
set(ZAV_RES_ASM ${CMAKE_BINARY_DIR}/update_res.S)
file(WRITE ${ZAV_RES_ASM}
  "    .section .rodata\n    .balign 16\n    .globl zav_res_begin\nzav_res_begin:\n"
  "    .incbin \"${ZAV_RES}\"\n    .globl zav_res_end\nzav_res_end:\n    .byte 0\n"
  "    .section .note.GNU-stack,\"\",@progbits\n")
set_source_files_properties(${ZAV_RES_ASM} PROPERTIES OBJECT_DEPENDS ${ZAV_RES})
add_custom_target(zav_resources DEPENDS ${ZAV_RES})

# --- What the machine's own files are made of (machine.ini, the disk
# rules, ASCII text helpers): shared by the host platform, the tools and the
# INT 13h access library, which is a loadable module.
add_library(zav_machine_files STATIC platform/host/machine/ini_file.cpp platform/host/machine/atomic_file.cpp
  platform/host/machine/disks.cpp platform/host/text/ascii.cpp)
set_target_properties(zav_machine_files PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(zav_machine_files PUBLIC ${CMAKE_SOURCE_DIR})

# --- Host platform: the Win32 names over a sandbox machine.
file(GLOB_RECURSE ZAV_HOST_SOURCES CONFIGURE_DEPENDS platform/host/*.cpp)
list(FILTER ZAV_HOST_SOURCES EXCLUDE REGEX ".*/platform/host/(winmain|machine/ini_file|machine/atomic_file|machine/disks|text/ascii)\\.cpp$")
add_library(zav_host STATIC ${ZAV_HOST_SOURCES} ${ZAV_RES_ASM})
add_dependencies(zav_host zav_resources)
target_include_directories(zav_host PUBLIC ${CMAKE_SOURCE_DIR} PRIVATE ${CURSES_INCLUDE_DIRS})
target_link_libraries(zav_host PUBLIC zav_machine_files PRIVATE ${CURSES_LIBRARIES} Threads::Threads ${CMAKE_DL_LIBS})

add_library(zav_afx STATIC ${ZAV_AFX_SOURCES})
target_link_libraries(zav_afx PUBLIC zav_host)

add_library(zav_logic STATIC ${ZAV_LOGIC_SOURCES})
target_link_libraries(zav_logic PUBLIC zav_afx)
add_dependencies(zav_logic zav_seam_check)

add_executable(update platform/host/winmain.cpp)
# Whole archive: the application object is reached only through its constructor.
target_link_libraries(update PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,zav_logic>")

# --- Tools.
file(GLOB ZAV_MACHINE_SOURCES CONFIGURE_DEPENDS tools/zav-machine/*.cpp)
add_executable(zav-machine ${ZAV_MACHINE_SOURCES})
target_link_libraries(zav-machine PRIVATE zav_host)
add_dependencies(zav-machine update zav-setup)
add_subdirectory(tools/kdo32up)
# The new version's installer, installed into machines as SETUP.EXE.
add_executable(zav-setup tools/zav-setup/setup.cpp tools/zav-setup/install.cpp)
target_link_libraries(zav-setup PRIVATE zav_host)

# --- Tests.
enable_testing()
find_package(GTest REQUIRED)
file(GLOB ZAV_TEST_SOURCES CONFIGURE_DEPENDS tests/*.cpp)
add_executable(zav_tests ${ZAV_TEST_SOURCES})
target_link_libraries(zav_tests PRIVATE zav_logic GTest::gtest GTest::gtest_main GTest::gmock)
target_compile_definitions(zav_tests PRIVATE
  ZAV_BUILD_DIR="${CMAKE_BINARY_DIR}" ZAV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_dependencies(zav_tests update zav-machine kdo32up)
include(GoogleTest)
# The crash-consistency tests fsync a thousand times over; under the
# sanitizers on a busy machine they take minutes.
gtest_discover_tests(zav_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
add_test(NAME SeamGuard.RefusesHostAndPosixIncludes
  COMMAND ${CMAKE_SOURCE_DIR}/tests/seam_guard_test.sh ${CMAKE_SOURCE_DIR})

# --- Fuzz targets: tests/fuzz/NAME_fuzz.cpp with its seeds in tests/fuzz/NAME/,
# each a CTest entry Fuzz.NAME that fuzzes for ZAV_FUZZ_SECONDS (or the
# environment's ZAV_FUZZ_SECONDS).
if(ZAV_FUZZ)
  set(ZAV_FUZZ_SECONDS 60 CACHE STRING "Seconds each fuzz target runs under CTest")
  file(GLOB ZAV_FUZZ_SOURCES CONFIGURE_DEPENDS tests/fuzz/*_fuzz.cpp)
  foreach(source ${ZAV_FUZZ_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    string(REGEX REPLACE "_fuzz$" "" name ${name})
    add_executable(fuzz_${name} ${source} tests/fuzz/fuzz_machine.cpp)
    target_link_libraries(fuzz_${name} PRIVATE zav_logic)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_compile_definitions(fuzz_${name} PRIVATE ZAV_BUILD_DIR="${CMAKE_BINARY_DIR}")
    add_dependencies(fuzz_${name} kdo32up)
    add_test(NAME Fuzz.${name}
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/run-fuzz $<TARGET_FILE:fuzz_${name}> ${CMAKE_SOURCE_DIR}/tests/fuzz/${name}
              ${CMAKE_BINARY_DIR}/fuzz ${ZAV_FUZZ_SECONDS})
    set_tests_properties(Fuzz.${name} PROPERTIES TIMEOUT 0 LABELS fuzz)
  endforeach()
endif()

# --- Benchmarks.
if(ZAV_BENCH)
  find_package(benchmark QUIET)
  file(GLOB ZAV_BENCH_SOURCES CONFIGURE_DEPENDS bench/*.cpp)
  if(benchmark_FOUND AND ZAV_BENCH_SOURCES)
    add_executable(zav_bench ${ZAV_BENCH_SOURCES})
    target_link_libraries(zav_bench PRIVATE zav_logic benchmark::benchmark benchmark::benchmark_main)
  endif()
endif()
