# Sanitizer builds. OVX_SANITIZE selects one:
#   OFF              no sanitizer
#   address (or ON)  AddressSanitizer, its leak checker and UndefinedBehaviorSanitizer
#   thread           ThreadSanitizer
# Everything the project builds (library, stand-ins, tests, tools) gets the
# flags. The run-time options every sanitized executable of the project needs
# are kept here, in one place, and reach the programs two ways:
# - ovx_sanitizer_runtime(<target>) compiles them into an executable (the
#   sanitizer runtime reads the executable's __asan_default_options and the
#   like), so that a test runs the same under ctest and by hand;
# - OVX_SANITIZER_ENV holds them as NAME=VALUE settings for programs built
#   elsewhere from the installed tree (the consumer of the install test).

set(_ovx_sanitize_value "${OVX_SANITIZE}")
string(TOLOWER "${_ovx_sanitize_value}" _ovx_sanitize_value)
if(_ovx_sanitize_value STREQUAL "address" OR _ovx_sanitize_value MATCHES "^(on|yes|true|y|1)$")
  set(OVX_SANITIZER address)
elseif(_ovx_sanitize_value STREQUAL "thread")
  set(OVX_SANITIZER thread)
elseif(_ovx_sanitize_value STREQUAL "" OR _ovx_sanitize_value MATCHES "^(off|no|false|n|0)$")
  set(OVX_SANITIZER "")
else()
  message(FATAL_ERROR "OVX_SANITIZE must be OFF, ON, address or thread, not '${OVX_SANITIZE}'")
endif()

# Flags of the project's own code, also given to consumers that the tests
# build from the installed tree.
set(OVX_SANITIZER_COMPILE_FLAGS "")
set(OVX_SANITIZER_LINK_FLAGS "")
if(OVX_SANITIZER STREQUAL "address")
  set(OVX_SANITIZER_COMPILE_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  set(OVX_SANITIZER_LINK_FLAGS -fsanitize=address,undefined)
elseif(OVX_SANITIZER STREQUAL "thread")
  set(OVX_SANITIZER_COMPILE_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
  set(OVX_SANITIZER_LINK_FLAGS -fsanitize=thread)
endif()
add_compile_options(${OVX_SANITIZER_COMPILE_FLAGS})
add_link_options(${OVX_SANITIZER_LINK_FLAGS})

# Run-time options.
# AddressSanitizer:
# - use_sigaltstack=0: the OpenCL compiler installs its own alternate signal
#   stack on the threads that build programs; the sanitizer must leave the
#   alternate stacks alone, or it fails when such a thread ends.
# - intercept_tls_get_addr=0: the runtime's record of the dynamic TLS blocks
#   guesses a block's bounds from a header that this C library no longer
#   writes; when a block of the OpenCL compiler happens to sit 16 bytes past
#   a page boundary it records garbage bounds, and the leak checker's thread
#   scan then crashes at exit ("Tracer caught signal 11"). Without the
#   interception the blocks are ordinary heap blocks reached from each
#   thread's vector of TLS blocks, so nothing is lost to the leak check.
# UndefinedBehaviorSanitizer: a stack trace with each report.
# ThreadSanitizer (no suppressions: the suite draws no report, and the one
# test that races on purpose tells the sanitizer so):
# - second_deadlock_stack=1: both stacks of a lock-order report;
# - memory_limit_mb=4096: the sanitizer's shadow of the multi-GiB transforms
#   (label slow) would take three times their own memory (15 GiB for one
#   2^25-point transform); past 4 GiB of resident memory it drops its
#   shadow and starts afresh, so a test stays near its own size (races
#   between accesses on either side of such a flush go unseen; the same
#   code runs unflushed in the smaller tests).
# A program that drew a report exits with status 66, so the test fails.
set(OVX_SANITIZER_OPTIONS "")
if(OVX_SANITIZER STREQUAL "address")
  list(APPEND OVX_SANITIZER_OPTIONS
    "ASAN_OPTIONS=use_sigaltstack=0:intercept_tls_get_addr=0"
    "UBSAN_OPTIONS=print_stacktrace=1")
elseif(OVX_SANITIZER STREQUAL "thread")
  list(APPEND OVX_SANITIZER_OPTIONS
    "TSAN_OPTIONS=second_deadlock_stack=1:memory_limit_mb=4096")
endif()
set(OVX_SANITIZER_ENV ${OVX_SANITIZER_OPTIONS})

# The options as the defaults of one executable.
function(ovx_sanitizer_runtime target)
  if(NOT OVX_SANITIZER)
    return()
  endif()
  if(NOT TARGET ovx_sanitizer_options)
    set(defs "")
    foreach(setting ${OVX_SANITIZER_OPTIONS})
      string(REGEX MATCH "^([A-Z]+)_OPTIONS=(.*)$" _ "${setting}")
      list(APPEND defs "OVX_${CMAKE_MATCH_1}_DEFAULT_OPTIONS=\"${CMAKE_MATCH_2}\"")
    endforeach()
    add_library(ovx_sanitizer_options OBJECT ${PROJECT_SOURCE_DIR}/cmake/ovx_sanitizer_options.c)
    target_compile_definitions(ovx_sanitizer_options PRIVATE ${defs})
  endif()
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:ovx_sanitizer_options>)
  # An executable exports none of its functions by default; the runtime,
  # a shared object, finds them only in the dynamic symbol table.
  foreach(sym __asan_default_options __ubsan_default_options __tsan_default_options)
    target_link_options(${target} PRIVATE -Wl,--export-dynamic-symbol=${sym})
  endforeach()
endfunction()
