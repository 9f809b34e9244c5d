# Folder-driven targets: adding a source file needs no edit of a CMakeLists.txt.

# torvo_library(NAME DIR LIBS ...): a static library of DIR/*.cpp (an interface target while empty).
# Every library sees the project root as include root: #include "platform/win/Files.h".
function(torvo_library name dir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  add_library(${name}_props INTERFACE)
  target_include_directories(${name}_props INTERFACE ${CMAKE_SOURCE_DIR})
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${name}_props ${ARG_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${name}_props ${ARG_LIBS})
  endif()
endfunction()

# Each tools/<name>/ folder is one executable named <name>.
function(torvo_tools dir)
  file(GLOB entries LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/${dir}/*)
  foreach(entry ${entries})
    if(IS_DIRECTORY ${entry})
      get_filename_component(tool ${entry} NAME)
      file(GLOB sources CONFIGURE_DEPENDS ${entry}/*.cpp)
      if(sources)
        add_executable(${tool} ${sources})
        target_link_libraries(${tool} PRIVATE torvo_writers torvo_readers torvo_core)
        # A command runs for milliseconds: binding the C++ runtime's symbols at each start cost as
        # much as testing 5,000 members. The sanitizer builds keep it shared, as their runtime wants.
        target_link_options(${tool} PRIVATE $<$<CONFIG:Release>:-static-libstdc++ -static-libgcc>)
        set_target_properties(${tool} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
      endif()
    endif()
  endforeach()
endfunction()

# Each bench/<name>.cpp is one executable in <build>/bench.
function(torvo_benches dir)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  foreach(src ${sources})
    get_filename_component(bench ${src} NAME_WE)
    add_executable(${bench} ${src})
    target_link_libraries(${bench} PRIVATE torvo_writers torvo_readers torvo_core ZLIB::ZLIB BZip2::BZip2)
    set_target_properties(${bench} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  endforeach()
endfunction()

# Each fuzz/<name>.cpp is one libFuzzer target (configure with CC=clang CXX=clang++).
function(torvo_fuzzers dir)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  foreach(src ${sources})
    get_filename_component(target ${src} NAME_WE)
    add_executable(${target} ${src})
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${target} PRIVATE torvo_appcore torvo_writers torvo_readers torvo_core ZLIB::ZLIB BZip2::BZip2)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  endforeach()
endfunction()

# torvo_test_folder(DIR LIBS ...): tests/DIR/*_test.cpp form one GoogleTest executable test_DIR;
# tests/DIR/bin/<name>.cpp are helper programs (child processes, peers) placed beside it. Tests
# find them through TORVO_TEST_BIN_DIR and the source tree through TORVO_SOURCE_DIR.
function(torvo_test_folder dir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  string(REPLACE "/" "_" name ${dir})
  set(bindir ${CMAKE_BINARY_DIR}/tests/${dir})
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/bin/*.cpp)
  set(helper_targets)
  foreach(src ${helpers})
    get_filename_component(helper ${src} NAME_WE)
    add_executable(${helper} ${src})
    target_link_libraries(${helper} PRIVATE ${ARG_LIBS})
    target_include_directories(${helper} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    set_target_properties(${helper} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${bindir})
    list(APPEND helper_targets ${helper})
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_test.cpp
                                      ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/support/*.cpp)
  # Shared by every test program (private folders for each run).
  file(GLOB shared_support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources} ${shared_support})
  target_link_libraries(test_${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(test_${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(test_${name} PRIVATE
    TORVO_TEST_BIN_DIR="${bindir}" TORVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TORVO_BUILD_DIR="${CMAKE_BINARY_DIR}")
  set_target_properties(test_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${bindir})
  if(helper_targets)
    add_dependencies(test_${name} ${helper_targets})
  endif()
  gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# torvo_ext_library(NAME DIR OUTPUT LIBS ...): one of our stand-ins for an external library: a
# shared library lib<OUTPUT>.so of DIR/*.cpp in <build>/ext, where LoadLibraryA looks after the
# program's own folder. NAME_objs holds the same code for fuzz targets.
function(torvo_ext_library name dir output)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  add_library(${name}_objs OBJECT ${sources})
  set_target_properties(${name}_objs PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_include_directories(${name}_objs PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name}_objs PUBLIC ${ARG_LIBS})
  add_library(${name} SHARED $<TARGET_OBJECTS:${name}_objs>)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES OUTPUT_NAME ${output}
                        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/ext)
  set_property(GLOBAL APPEND PROPERTY TORVO_EXT_LIBRARIES ${name})
endfunction()
