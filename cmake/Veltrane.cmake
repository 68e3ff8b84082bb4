# Shared build rules: the two targets (windows, host), warnings, sanitizers, the build-time
# constants and the test registration used by every module.

set(VELTRANE_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(VELTRANE_WINDOWS ON)
  # Windows tests run under Wine in the build folder's own prefix (tools/wine).
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tools/wine/wine-run.sh ${CMAKE_BINARY_DIR})
else()
  set(VELTRANE_WINDOWS OFF)
endif()

# The content server: the product's origin is fixed at build time; test builds talk to the
# stand-in in tools/content-server on these loopback ports.
set(VELTRANE_CONTENT_ORIGIN "https://veltrane.hospital.local" CACHE STRING "Content server origin (https, no trailing slash)")
set(VELTRANE_TEST_SERVER_PORT 47443 CACHE STRING "Port of the content-server stand-in")
set(VELTRANE_TEST_UNTRUSTED_PORT 47444 CACHE STRING "Port of the stand-in's untrusted twin")
# The Windows Spotlight selection service, the same way; its stand-in is the content-server
# stand-in on a port of its own.
set(VELTRANE_SPOTLIGHT_ORIGIN "https://fd.api.iris.microsoft.com" CACHE STRING "Windows Spotlight selection service origin (https, no trailing slash)")
set(VELTRANE_TEST_SPOTLIGHT_PORT 47445 CACHE STRING "Port of the Spotlight stand-in")
set(VELTRANE_TEST_PROXY_PORT 47470 CACHE STRING "Loopback port of the proxy tests' tinyproxy; the one that asks for a password takes the next port")
set(VELTRANE_TEST_NGINX_PORT 47463 CACHE STRING "Loopback port of the tests' nginx with the repository's site configuration; the host build's takes the next")
# The public key of the tests' fixed signing seed (tests/update/test_signing_key.h).
set(VELTRANE_TEST_SIGNING_KEY 73276b5c5bae77374a8a156fdfebcda19d104f106722f9e398f501bc170ccd8f)

# The fuzz build (clang only): the portable modules with libFuzzer's coverage and the
# targets in fuzz/, instead of the programs and tests.
option(VELTRANE_FUZZ "Build the libFuzzer targets instead of the programs and tests" OFF)
if(VELTRANE_FUZZ AND (VELTRANE_WINDOWS OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
  message(FATAL_ERROR "VELTRANE_FUZZ needs the host build with clang (-DCMAKE_CXX_COMPILER=clang++)")
endif()

set(VELTRANE_WARNINGS -Wall -Wextra -Wpedantic -Werror)

# Every project target gets these; dependencies are built elsewhere without -Werror.
function(veltrane_target_defaults target)
  target_compile_options(${target} PRIVATE ${VELTRANE_WARNINGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  if(VELTRANE_WINDOWS)
    target_compile_definitions(${target} PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                               _WIN32_WINNT=0x0A00 WINVER=0x0A00)
    target_link_options(${target} PUBLIC -static)
  else()
    set(sanitizers address,undefined)
    if(VELTRANE_FUZZ)
      # Coverage hooks in every project library; only the fuzz targets link libFuzzer's main.
      set(sanitizers fuzzer-no-link,address,undefined)
    endif()
    target_compile_options(${target} PUBLIC -fsanitize=${sanitizers} -fno-omit-frame-pointer
                           -fno-sanitize-recover=undefined)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
endfunction()

# A module is a static library of portable sources plus, on Windows, its *_win.cpp effects.
#   veltrane_module(name SOURCES a.cpp ... WIN_SOURCES x_win.cpp ... HOST_SOURCES y_posix.cpp ...
#                   DEPS other_modules... WIN_LIBS gdi32 ...)
function(veltrane_module name)
  cmake_parse_arguments(M "" "" "SOURCES;WIN_SOURCES;HOST_SOURCES;DEPS;WIN_LIBS;HOST_LIBS" ${ARGN})
  set(sources ${M_SOURCES})
  if(VELTRANE_WINDOWS)
    list(APPEND sources ${M_WIN_SOURCES})
  else()
    list(APPEND sources ${M_HOST_SOURCES})
  endif()
  add_library(veltrane_${name} STATIC ${sources})
  veltrane_target_defaults(veltrane_${name})
  target_link_libraries(veltrane_${name} PUBLIC ${M_DEPS})
  if(VELTRANE_WINDOWS)
    target_link_libraries(veltrane_${name} PUBLIC ${M_WIN_LIBS})
  else()
    target_link_libraries(veltrane_${name} PUBLIC ${M_HOST_LIBS})
  endif()
endfunction()

# A program of the project besides the product (tools, benchmarks, test helpers): project
# defaults, console subsystem on Windows. WIDE for a wmain entry point, WINDOWED for a
# program that must have no console.
#   veltrane_program(name SOURCES ... DEPS ... [WIDE] [WINDOWED])
function(veltrane_program name)
  cmake_parse_arguments(P "WIDE;WINDOWED" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  veltrane_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${P_DEPS})
  if(VELTRANE_WINDOWS)
    if(P_WINDOWED)
      target_link_options(${name} PRIVATE -mwindows)
    else()
      target_link_options(${name} PRIVATE -mconsole)
    endif()
    if(P_WIDE)
      target_link_options(${name} PRIVATE -municode)
    endif()
  endif()
endfunction()

# Build-time constants: one generated translation unit per variant. The product links
# "product"; tests link variants with their own values. Nothing changes them at run time.
#   veltrane_constants(variant TIMESTAMP yyyymmddhhmmss CONTENT_ORIGIN https://host
#                      SPOTLIGHT_ORIGIN https://host SIGNING_KEY hex64)
# Sets VELTRANE_CONST_SIGNING_KEY (C initialiser bytes) and VELTRANE_CONST_SIGNING_KEY_HEX
# in the caller's scope from 64 hexadecimal digits.
function(veltrane_signing_key_constants key)
  string(LENGTH "${key}" key_length)
  if(NOT key MATCHES "^[0-9a-fA-F]+$" OR NOT key_length EQUAL 64)
    message(FATAL_ERROR "update signing key must be 64 hexadecimal digits")
  endif()
  string(REGEX REPLACE "([0-9a-fA-F][0-9a-fA-F])" "0x\\1," bytes "${key}")
  string(TOLOWER "${key}" hex)
  set(VELTRANE_CONST_SIGNING_KEY "${bytes}" PARENT_SCOPE)
  set(VELTRANE_CONST_SIGNING_KEY_HEX "${hex}" PARENT_SCOPE)
endfunction()

function(veltrane_constants variant)
  cmake_parse_arguments(C "" "TIMESTAMP;CONTENT_ORIGIN;SPOTLIGHT_ORIGIN;SIGNING_KEY" "" ${ARGN})
  foreach(origin CONTENT_ORIGIN SPOTLIGHT_ORIGIN)
    if(NOT C_${origin} MATCHES "^https://[^/]+$")
      message(FATAL_ERROR "VELTRANE_${origin} (${variant} constants) must be https://host[:port] without a trailing slash")
    endif()
  endforeach()
  set(VELTRANE_CONST_TIMESTAMP "${C_TIMESTAMP}")
  set(VELTRANE_CONST_CONTENT_ORIGIN "${C_CONTENT_ORIGIN}")
  set(VELTRANE_CONST_SPOTLIGHT_ORIGIN "${C_SPOTLIGHT_ORIGIN}")
  veltrane_signing_key_constants(${C_SIGNING_KEY})
  set(out ${CMAKE_BINARY_DIR}/generated/build_constants_${variant}.cpp)
  configure_file(${PROJECT_SOURCE_DIR}/src/build_info/build_constants.cpp.in ${out} @ONLY)
  # An object library: its object is linked wherever it is named, whatever the order of
  # the static libraries that use it.
  add_library(veltrane_constants_${variant} OBJECT ${out})
  veltrane_target_defaults(veltrane_constants_${variant})
endfunction()

# The product's constants and version resource, stamped when the product is built rather
# than configured: every build whose inputs changed gets a newer version than the last one
# from the same build folder. SOURCE_DATE_EPOCH (at configuration or build) or
# -DVELTRANE_BUILD_TIMESTAMP=YYYYMMDDHHMMSS pins it.
#   veltrane_stamped_constants(exe LIBRARY name CONTENT_ORIGIN origin [SPOTLIGHT_ORIGIN origin]
#                              [RC_TEMPLATE file.rc.in ICON file MANIFEST file])
function(veltrane_stamped_constants exe)
  cmake_parse_arguments(S "" "LIBRARY;CONTENT_ORIGIN;SPOTLIGHT_ORIGIN;RC_TEMPLATE;ICON;MANIFEST" "" ${ARGN})
  if(NOT S_SPOTLIGHT_ORIGIN)
    set(S_SPOTLIGHT_ORIGIN ${VELTRANE_SPOTLIGHT_ORIGIN})
  endif()
  foreach(origin CONTENT_ORIGIN SPOTLIGHT_ORIGIN)
    if(NOT S_${origin} MATCHES "^https://[^/]+$")
      message(FATAL_ERROR "VELTRANE_${origin} must be https://host[:port] without a trailing slash")
    endif()
  endforeach()
  # Build folders configured before the stamp moved to build time hold a configuration-time
  # value in the cache; it is not a pin.
  get_property(help CACHE VELTRANE_BUILD_TIMESTAMP PROPERTY HELPSTRING)
  if(help STREQUAL "Build version as YYYYMMDDHHMMSS")
    unset(VELTRANE_BUILD_TIMESTAMP CACHE)
    unset(VELTRANE_BUILD_TIMESTAMP)
  endif()
  set(pin "")
  if(VELTRANE_BUILD_TIMESTAMP)
    set(pin ${VELTRANE_BUILD_TIMESTAMP})
  elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
    string(TIMESTAMP pin "%Y%m%d%H%M%S" UTC)
  endif()
  if(pin AND NOT pin MATCHES "^[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]$")
    message(FATAL_ERROR "build timestamp must be YYYYMMDDHHMMSS")
  endif()

  # The release signers' public key. Without one the build embeds a point of small order,
  # which strict verification rejects for every signature: such a build never updates.
  set(VELTRANE_UPDATE_SIGNING_KEY "" CACHE STRING "Ed25519 public key of release signing, 64 hex digits (veltrane-publish keygen)")
  set(key "${VELTRANE_UPDATE_SIGNING_KEY}")
  if(key STREQUAL "")
    set(key "0100000000000000000000000000000000000000000000000000000000000000")
    message(WARNING "VELTRANE_UPDATE_SIGNING_KEY is not set: this build can never accept an update.")
  endif()
  veltrane_signing_key_constants(${key})

  set(cpp ${CMAKE_CURRENT_BINARY_DIR}/${S_LIBRARY}.cpp)
  set(template ${VELTRANE_CMAKE_DIR}/../src/build_info/build_constants.cpp.in)
  set(script ${VELTRANE_CMAKE_DIR}/stamp_build.cmake)
  # An object library: its object is linked wherever it is named, whatever the order of
  # the static libraries that use it.
  add_library(${S_LIBRARY} OBJECT ${cpp})
  veltrane_target_defaults(${S_LIBRARY})
  target_include_directories(${S_LIBRARY} PUBLIC ${VELTRANE_CMAKE_DIR}/../src)
  target_link_libraries(${exe} PRIVATE ${S_LIBRARY})
  set(outputs ${cpp})
  set(inputs ${template} ${script})
  set(args -DPINNED=${pin} -DCONTENT_ORIGIN=${S_CONTENT_ORIGIN} -DSPOTLIGHT_ORIGIN=${S_SPOTLIGHT_ORIGIN} -DCONSTANTS_IN=${template} -DCONSTANTS_OUT=${cpp}
           "-DSIGNING_KEY=${VELTRANE_CONST_SIGNING_KEY}" -DSIGNING_KEY_HEX=${VELTRANE_CONST_SIGNING_KEY_HEX})
  if(S_RC_TEMPLATE)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${exe}.rc)
    target_sources(${exe} PRIVATE ${rc})
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${S_ICON};${S_MANIFEST}")
    list(APPEND outputs ${rc})
    list(APPEND inputs ${S_RC_TEMPLATE} ${S_ICON} ${S_MANIFEST})
    list(APPEND args -DRC_IN=${S_RC_TEMPLATE} -DRC_OUT=${rc} -DICON_PATH=${S_ICON} -DMANIFEST_PATH=${S_MANIFEST})
  endif()
  set_target_properties(${exe} PROPERTIES VELTRANE_STAMP_LIBRARY ${S_LIBRARY} VELTRANE_STAMP_OUTPUTS "${outputs}"
                        VELTRANE_STAMP_INPUTS "${inputs}" VELTRANE_STAMP_ARGS "${args}")
  # The command depends on everything linked into the product, which is only known once the
  # directory has been read to its end.
  cmake_language(EVAL CODE "cmake_language(DEFER CALL _veltrane_stamp_command [[${exe}]])")
endfunction()

# The project's libraries linked into the target, directly or through other libraries.
function(_veltrane_linked_libraries target out)
  set(seen "")
  set(queue ${target})
  set(libraries "")
  while(queue)
    list(POP_FRONT queue t)
    if(NOT TARGET ${t} OR t IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${t})
    get_target_property(type ${t} TYPE)
    get_target_property(imported ${t} IMPORTED)
    if(type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(linked ${t} INTERFACE_LINK_LIBRARIES)
    else()
      get_target_property(linked ${t} LINK_LIBRARIES)
      if(NOT imported AND type MATCHES "^(STATIC|SHARED)_LIBRARY$")
        list(APPEND libraries ${t})
      endif()
    endif()
    if(linked)
      list(APPEND queue ${linked})
    endif()
  endwhile()
  set(${out} ${libraries} PARENT_SCOPE)
endfunction()

function(_veltrane_stamp_command exe)
  get_target_property(library ${exe} VELTRANE_STAMP_LIBRARY)
  get_target_property(outputs ${exe} VELTRANE_STAMP_OUTPUTS)
  get_target_property(inputs ${exe} VELTRANE_STAMP_INPUTS)
  get_target_property(args ${exe} VELTRANE_STAMP_ARGS)
  _veltrane_linked_libraries(${exe} libraries)
  list(REMOVE_ITEM libraries ${library})
  set(depends ${inputs})
  foreach(l ${libraries})
    list(APPEND depends ${l} $<TARGET_FILE:${l}>)
  endforeach()
  get_target_property(sources ${exe} SOURCES)
  foreach(s ${sources})
    get_filename_component(s ${s} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    if(NOT s IN_LIST outputs)
      list(APPEND depends ${s})
    endif()
  endforeach()
  add_custom_command(OUTPUT ${outputs}
                     COMMAND ${CMAKE_COMMAND} ${args} -P ${VELTRANE_CMAKE_DIR}/stamp_build.cmake
                     DEPENDS ${depends}
                     COMMENT "Stamping the build version of ${exe}"
                     VERBATIM)
endfunction()

# The tests' own code waits on processes and compares results: the product's -O3 would only
# cost build time there. Through the precompiled header, GCC 12 reports the C library's
# inline wmemcpy in std::wstring joins as an overrun, where it otherwise keeps quiet about
# system headers.
function(veltrane_test_code_options target)
  if(VELTRANE_WINDOWS)
    target_compile_options(${target} PRIVATE -O1 -Wno-array-bounds -Wno-stringop-overread -Wno-stringop-overflow)
  endif()
endfunction()

# Tests run on the host under sanitizers and, in the windows build, under Wine through the
# cross-compiling emulator (tools/wine/wine-run.sh), which gives each test its own
# LOCALAPPDATA, APPDATA and TEMP. SERIAL marks tests that start program processes or use
# fixed kernel-object names: those never overlap within one Wine prefix.
#   veltrane_test(name SOURCES ... DEPS ... [SERIAL] [TIMEOUT s])
function(veltrane_test name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT" "SOURCES;DEPS;WIN_LIBS" ${ARGN})
  veltrane_program(test_${name} SOURCES ${T_SOURCES} DEPS ${T_DEPS} veltrane_test_main)
  veltrane_test_code_options(test_${name})
  target_precompile_headers(test_${name} REUSE_FROM veltrane_test_main)
  if(VELTRANE_WINDOWS)
    target_link_libraries(test_${name} PRIVATE ${T_WIN_LIBS})
  endif()
  add_test(NAME ${name} COMMAND test_${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # A program whose every case skipped (tests/support/gtest_main.cpp) shows as skipped.
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} SKIP_RETURN_CODE 77)
  if(VELTRANE_WINDOWS)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
    if(T_SERIAL)
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_objects)
    endif()
  endif()
endfunction()

# Runs a registered Windows test in the four-monitor runtime (tools/wine) instead of the
# default one; GTEST_FILTER picks its cases when the program holds others too.
function(veltrane_four_monitor_test name filter)
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_monitors
                       ENVIRONMENT "VELTRANE_WINE_RUNTIME=wine-monitors;GTEST_FILTER=${filter}")
endfunction()

macro(veltrane_find_dependencies)
  if(VELTRANE_WINDOWS)
    if(NOT VELTRANE_DEPS_PREFIX)
      message(FATAL_ERROR "Set VELTRANE_DEPS_PREFIX to the folder tools/build-deps.sh prints")
    endif()
    set(d ${VELTRANE_DEPS_PREFIX})
    add_library(veltrane_dep_zlib STATIC IMPORTED)
    set_target_properties(veltrane_dep_zlib PROPERTIES IMPORTED_LOCATION ${d}/lib/libz.a
                          INTERFACE_INCLUDE_DIRECTORIES ${d}/include)
    add_library(veltrane_dep_png STATIC IMPORTED)
    set_target_properties(veltrane_dep_png PROPERTIES IMPORTED_LOCATION ${d}/lib/libpng16.a
                          INTERFACE_INCLUDE_DIRECTORIES ${d}/include
                          INTERFACE_LINK_LIBRARIES veltrane_dep_zlib)
    add_library(veltrane_dep_sodium STATIC IMPORTED)
    set_target_properties(veltrane_dep_sodium PROPERTIES IMPORTED_LOCATION ${d}/lib/libsodium.a
                          INTERFACE_INCLUDE_DIRECTORIES ${d}/include
                          INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)
    add_library(veltrane_gtest STATIC IMPORTED)
    set_target_properties(veltrane_gtest PROPERTIES IMPORTED_LOCATION ${d}/lib/libgtest.a
                          INTERFACE_INCLUDE_DIRECTORIES ${d}/include)
    add_library(veltrane_googletest INTERFACE)
    target_link_libraries(veltrane_googletest INTERFACE veltrane_gtest)
    find_path(VELTRANE_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  else()
    find_package(PNG REQUIRED)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
    find_package(GTest REQUIRED)
    find_package(ZLIB REQUIRED)
    add_library(veltrane_dep_zlib INTERFACE)
    target_link_libraries(veltrane_dep_zlib INTERFACE ZLIB::ZLIB)
    add_library(veltrane_dep_png INTERFACE)
    target_link_libraries(veltrane_dep_png INTERFACE PNG::PNG)
    add_library(veltrane_dep_sodium INTERFACE)
    target_link_libraries(veltrane_dep_sodium INTERFACE PkgConfig::SODIUM)
    add_library(veltrane_googletest INTERFACE)
    target_link_libraries(veltrane_googletest INTERFACE GTest::gtest)
    find_path(VELTRANE_JSON_INCLUDE nlohmann/json.hpp REQUIRED)
  endif()
  add_library(veltrane_dep_json INTERFACE)
  # The JSON header lives in /usr/include; give only that folder a private copy path so the
  # cross compiler does not see the host's other headers.
  set(json_dir ${CMAKE_BINARY_DIR}/deps/json)
  file(MAKE_DIRECTORY ${json_dir})
  file(COPY ${VELTRANE_JSON_INCLUDE}/nlohmann DESTINATION ${json_dir})
  target_include_directories(veltrane_dep_json SYSTEM INTERFACE ${json_dir})
endmacro()
