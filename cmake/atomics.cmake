# Defines the target Recorder::atomic: libatomic where 64-bit atomic
# operations need it (ARMv5, some 32-bit vendor toolchains), nothing where the
# processor has them.
include(CheckCXXSourceCompiles)

set(_recorder_atomic_test [[
#include <atomic>
#include <cstdint>
std::atomic<int64_t> value{0};
int main() { return static_cast<int>(value.fetch_add(1) + value.exchange(2) + value.load()); }
]])
check_cxx_source_compiles("${_recorder_atomic_test}" RECORDER_ATOMICS_BUILTIN)
if(NOT RECORDER_ATOMICS_BUILTIN)
  set(CMAKE_REQUIRED_LIBRARIES atomic)
  check_cxx_source_compiles("${_recorder_atomic_test}" RECORDER_ATOMICS_IN_LIBATOMIC)
  unset(CMAKE_REQUIRED_LIBRARIES)
  if(NOT RECORDER_ATOMICS_IN_LIBATOMIC)
    message(FATAL_ERROR "64-bit atomic operations link neither alone nor with libatomic")
  endif()
endif()

add_library(recorder_atomic INTERFACE)
if(NOT RECORDER_ATOMICS_BUILTIN)
  target_link_libraries(recorder_atomic INTERFACE atomic)
endif()
add_library(Recorder::atomic ALIAS recorder_atomic)
