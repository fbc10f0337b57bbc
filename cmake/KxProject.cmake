# Project-wide compiler settings, third-party targets and the helpers every layer uses.
include_guard(GLOBAL)

set(KX_WINDOWS ${WIN32})
add_library(kx_options INTERFACE)
target_compile_options(kx_options INTERFACE -Wall -Wextra -Wno-unused-parameter)
target_include_directories(kx_options INTERFACE ${CMAKE_SOURCE_DIR})
if(KX_WINDOWS)
  target_compile_definitions(kx_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                  _WIN32_WINNT=0x0601 XML_STATIC)
  # No mingw runtime DLL beside ours: libgcc, libstdc++ and winpthread go into every image.
  set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static")
  set(CMAKE_SHARED_LINKER_FLAGS "${CMAKE_SHARED_LINKER_FLAGS} -static")
  set(CMAKE_MODULE_LINKER_FLAGS "${CMAKE_MODULE_LINKER_FLAGS} -static")
endif()
if(KX_SANITIZE)
  target_compile_options(kx_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                              -fno-sanitize-recover=undefined)
  target_link_options(kx_options INTERFACE -fsanitize=address,undefined)
endif()

# Expat: the system library natively, the static build from Debian's source for mingw.
if(KX_WINDOWS)
  add_library(kx_expat STATIC IMPORTED GLOBAL)
  set_target_properties(kx_expat PROPERTIES
    IMPORTED_LOCATION ${KX_EXPAT_PREFIX}/lib/libexpat.a
    INTERFACE_INCLUDE_DIRECTORIES ${KX_EXPAT_PREFIX}/include
    INTERFACE_COMPILE_DEFINITIONS XML_STATIC)
else()
  find_package(EXPAT REQUIRED)
  add_library(kx_expat INTERFACE)
  target_link_libraries(kx_expat INTERFACE EXPAT::EXPAT)
endif()

# nlohmann-json is header-only; copy it aside so that cross builds never see the host's /usr/include.
file(COPY /usr/include/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/third_party/include)
add_library(kx_json INTERFACE)
target_include_directories(kx_json SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/third_party/include)

if(KX_TESTS)
  enable_testing()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL)
endif()

if(KX_BENCH AND NOT KX_WINDOWS)
  find_package(benchmark REQUIRED)
endif()

# kx_test(NAME SOURCES... LIBS ...): one test executable, run whole as one test (under Wine when
# cross-built), so that a Wine start-up is paid once per executable, not once per test case.
function(kx_test name)
  if(NOT KX_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE kx_options ${T_LIBS} GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1 WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "KX_SOURCE_DIR=${CMAKE_SOURCE_DIR};${T_ENV}" TIMEOUT 600)
endfunction()

# kx_bench(NAME SOURCES... LIBS ...): a Google Benchmark executable (native builds only).
function(kx_bench name)
  if(NOT KX_BENCH OR KX_WINDOWS)
    return()
  endif()
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE kx_options ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# kx_fuzzer(NAME SOURCE LIBS ... CORPUS dir): a libFuzzer target under the sanitize preset; in every
# test build the same entry point also gets a plain replay driver that feeds each corpus file once.
function(kx_fuzzer name)
  cmake_parse_arguments(F "" "SOURCE;CORPUS" "LIBS" ${ARGN})
  if(KX_FUZZ)
    add_executable(${name} ${F_SOURCE})
    target_link_libraries(${name} PRIVATE kx_options ${F_LIBS})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_test(NAME ${name}_corpus COMMAND ${name} -runs=0 ${F_CORPUS})
  elseif(KX_TESTS AND NOT KX_WINDOWS)
    add_executable(${name}_replay ${F_SOURCE} ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE kx_options ${F_LIBS})
    add_test(NAME ${name}_replay COMMAND ${name}_replay ${F_CORPUS})
  endif()
endfunction()
