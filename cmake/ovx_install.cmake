# Install rules: `cmake --install build --prefix DIR` gives DIR/lib with the
# library and the platform's shared objects a consumer needs on this machine,
# DIR/include with the public headers (the library's and the platform's:
# <korami/ovx/...>, <sycl/sycl.hpp>, ...), a CMake package
# (find_package(korami_ovx CONFIG) -> korami::ovx) and korami_ovx.pc.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Everything lands in one lib folder and finds its neighbours there: the
# shared objects through $ORIGIN, the modules loaded by name through the
# Windows layer's map, which looks beside the layer itself.
set_target_properties(korami_ovx ${OVX_PLATFORM_INSTALL_TARGETS} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS korami_ovx ${OVX_PLATFORM_INSTALL_TARGETS}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/korami DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Public headers of the platform stand-ins. The Windows layer's own
# <windows.h> and <delayimp.h> stay out: only the library uses them, and a
# consumer's include path must not gain a windows.h.
foreach(piece sycl profile serv cpudft opencl win32)
  set(dir ${PROJECT_SOURCE_DIR}/platform/${piece}/include)
  if(EXISTS ${dir})
    install(DIRECTORY ${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
      PATTERN "windows.h" EXCLUDE PATTERN "delayimp.h" EXCLUDE)
  endif()
endforeach()

set(OVX_LIB_FILE ${CMAKE_SHARED_LIBRARY_PREFIX}korami_ovx${CMAKE_SHARED_LIBRARY_SUFFIX})
set(OVX_SYCL_LIB_FILE ${CMAKE_SHARED_LIBRARY_PREFIX}${OVX_PLATFORM_SYCL}${CMAKE_SHARED_LIBRARY_SUFFIX})
set(OVX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/korami_ovx)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/korami_ovxConfig.cmake.in
  ${PROJECT_BINARY_DIR}/korami_ovxConfig.cmake
  INSTALL_DESTINATION ${OVX_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/korami_ovxConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/korami_ovxConfig.cmake ${PROJECT_BINARY_DIR}/korami_ovxConfigVersion.cmake
  DESTINATION ${OVX_CMAKE_DIR})

# The .pc file finds its prefix from its own place, so that the tree stays
# relocatable (the prefix of `cmake --install --prefix` is not known here).
file(RELATIVE_PATH OVX_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" OVX_PC_TO_PREFIX "${OVX_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/korami_ovx.pc.in ${PROJECT_BINARY_DIR}/korami_ovx.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/korami_ovx.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
