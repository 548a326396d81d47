# Warnings and sanitizers as INTERFACE targets, linked into every target of ours.
add_library(tarvel_options INTERFACE)
target_compile_options(tarvel_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wformat=2)

if(TARVEL_SANITIZE)
  target_compile_options(tarvel_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(tarvel_options INTERFACE -fsanitize=address,undefined)
endif()

# The threads of the command runner, the sweep, the publisher and the service.
if(TARVEL_TSAN)
  if(TARVEL_SANITIZE)
    message(FATAL_ERROR "TARVEL_TSAN and TARVEL_SANITIZE cannot be combined")
  endif()
  target_compile_options(tarvel_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(tarvel_options INTERFACE -fsanitize=thread)
endif()

# Every library is instrumented for coverage so libFuzzer can steer; only the fuzz targets
# link the fuzzer's main.
if(TARVEL_FUZZ)
  target_compile_options(tarvel_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(tarvel_options INTERFACE -fsanitize=address,undefined)
endif()

# Rebuilds of several work trees share one compiler cache when ccache is installed.
find_program(TARVEL_CCACHE ccache)
if(TARVEL_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${TARVEL_CCACHE})
endif()
