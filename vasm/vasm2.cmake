# Containers, carrier patching, scoreboarding and the probe driver of the code
# generator; part of the ovx_vasm object library.
target_sources(ovx_vasm PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/vasm_patch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vasm_kinfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vasm_elf.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vasm_carrier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vasm_sb.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vasm_probe_driver.cpp)
