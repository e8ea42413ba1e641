# qv_use_test_pch(target): compile `target` with GoogleTest's precompiled
# header (tests/CMakeLists.txt makes it).
function(qv_use_test_pch target)
  if(TARGET qv_test_pch)
    target_precompile_headers(${target} REUSE_FROM qv_test_pch)
    target_link_libraries(${target} PRIVATE GTest::gmock)
    # With the header precompiled, g++ 12 takes some inlined std::string
    # copies for out-of-bounds ones (known false positives of these checks).
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      target_compile_options(${target} PRIVATE -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread
                                               -Wno-restrict)
    endif()
    # Library sources a test compiles with its own definitions do not use it.
    get_target_property(sources ${target} SOURCES)
    foreach(source ${sources})
      get_filename_component(path ${source} ABSOLUTE)
      if(NOT path MATCHES "^${PROJECT_SOURCE_DIR}/tests/")
        set_source_files_properties(${source} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
      endif()
    endforeach()
  endif()
endfunction()

# qv_add_gtest(NAME name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [NATIVE_ONLY])
# One CTest entry per test program; cross builds run it through the wine emulator.
function(qv_add_gtest)
  cmake_parse_arguments(T "NATIVE_ONLY" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(T_NATIVE_ONLY AND WIN32)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  qv_use_test_pch(${T_NAME})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  # The ThreadSanitizer run builds only what it runs.
  if("concurrency" IN_LIST T_LABELS)
    add_dependencies(concurrency_tests ${T_NAME})
  endif()
endfunction()
