# The platform the library runs on, named in this one place.
#
# Each piece is an INTERFACE target that the library's subsystems, the
# examples and the benchmarks link by its ovx::platform_* name:
#   ovx::platform_sycl    SYCL 2020 runtime (with the OpenCL headers it exposes)
#   ovx::platform_opencl  OpenCL library the runtime loads by name ("OpenCL.dll")
#   ovx::platform_serv    vendor service library (memory, locks, verbose output)
#   ovx::platform_cpudft  vendor CPU transform library
#   ovx::platform_win32   Windows module calls (LoadLibrary, GetProcAddress, ...)
#   (ovxplat_omp)         OpenMP offload runtime, loaded by name ("omptarget.dll")
# This machine has none of them, so they are the stand-ins built under
# platform/. Pointing the library at a real platform means replacing the
# add_subdirectory call and the target names of OVX_PLATFORM_* below (for
# example with imported targets of a SYCL compiler's CMake package).

add_subdirectory(${PROJECT_SOURCE_DIR}/platform ${PROJECT_BINARY_DIR}/platform)

set(OVX_PLATFORM_SYCL ovxplat_sycl)
set(OVX_PLATFORM_OPENCL ovxplat_opencl)
set(OVX_PLATFORM_SERV ovxplat_serv)
set(OVX_PLATFORM_CPUDFT ovxplat_cpudft)
set(OVX_PLATFORM_WIN32 ovxplat_win32)

foreach(piece sycl opencl serv cpudft win32)
  add_library(ovx_platform_${piece} INTERFACE)
  add_library(ovx::platform_${piece} ALIAS ovx_platform_${piece})
endforeach()
foreach(piece sycl serv cpudft win32)
  string(TOUPPER ${piece} upper)
  if(TARGET ${OVX_PLATFORM_${upper}})
    target_link_libraries(ovx_platform_${piece} INTERFACE ${OVX_PLATFORM_${upper}})
  endif()
endforeach()
# The OpenCL library is loaded by name at run time, never linked: the library
# takes the standard OpenCL headers and needs the module built beside it.
find_package(OpenCL REQUIRED)
target_include_directories(ovx_platform_opencl INTERFACE ${OpenCL_INCLUDE_DIRS})
target_compile_definitions(ovx_platform_opencl INTERFACE CL_TARGET_OPENCL_VERSION=300)
if(TARGET ${OVX_PLATFORM_OPENCL})
  add_dependencies(ovx_platform_opencl ${OVX_PLATFORM_OPENCL})
endif()

# Shared objects of the platform that an installed library needs on this
# machine, and the include folders of their public headers.
set(OVX_PLATFORM_INSTALL_TARGETS)
foreach(t ovxplat_profile ${OVX_PLATFORM_SYCL} ${OVX_PLATFORM_OPENCL} ${OVX_PLATFORM_SERV}
        ${OVX_PLATFORM_CPUDFT} ${OVX_PLATFORM_WIN32} ovxplat_omp)
  if(TARGET ${t})
    list(APPEND OVX_PLATFORM_INSTALL_TARGETS ${t})
  endif()
endforeach()
