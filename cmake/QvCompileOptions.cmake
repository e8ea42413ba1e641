# Warnings are errors on every toolchain.
add_compile_options(-Wall -Wextra -Werror)

if(WIN32)
  # Nothing but system DLLs at run time.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)
endif()

set(QV_SANITIZE "" CACHE STRING "Sanitizers to build with: address,undefined or thread")
if(QV_SANITIZE)
  add_compile_options(-fsanitize=${QV_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QV_SANITIZE})
endif()

if(QV_BUILD_FUZZ)
  # Coverage instrumentation for every library, so the fuzzers see inside them;
  # only the fuzz targets themselves link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# qv_library(name SOURCES ... DEPS ...): a static library; while a layer has
# no sources yet it is an interface library with the same dependencies.
function(qv_library name)
  cmake_parse_arguments(L "" "" "SOURCES;DEPS" ${ARGN})
  if(L_SOURCES)
    add_library(${name} STATIC ${L_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${L_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${L_DEPS})
  endif()
endfunction()
