# The firmware sources, shared by the host libraries and the firmware images.
# Files named *Firmware*.cpp hold what only a freestanding image needs (the
# memory routines the compiler may call) and are left out of the host build.
get_filename_component(_zephrin_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(ZEPHRIN_DXE_AREAS core blob compress capture restore)
set(ZEPHRIN_DXE_SOURCES "")
foreach(area ${ZEPHRIN_DXE_AREAS})
  file(GLOB ZEPHRIN_SOURCES_${area} CONFIGURE_DEPENDS ${_zephrin_root}/acpi_dxe/${area}/*.cpp)
  list(APPEND ZEPHRIN_DXE_SOURCES ${ZEPHRIN_SOURCES_${area}})
endforeach()
file(GLOB ZEPHRIN_SOURCES_product_data CONFIGURE_DEPENDS ${_zephrin_root}/product_data/*.cpp)
file(GLOB ZEPHRIN_SOURCES_pei CONFIGURE_DEPENDS ${_zephrin_root}/feature_control_pei/*.cpp)
list(APPEND ZEPHRIN_DXE_SOURCES ${ZEPHRIN_SOURCES_product_data})
set(ZEPHRIN_PEI_SOURCES ${ZEPHRIN_SOURCES_pei} ${ZEPHRIN_SOURCES_product_data})
file(GLOB ZEPHRIN_FIRMWARE_ONLY_SOURCES CONFIGURE_DEPENDS ${_zephrin_root}/common/*Firmware*.cpp)
# Freestanding AML readers that the tools and the QEMU test platform share with
# the driver's sources but the driver itself never calls: kept out of its image.
set(ZEPHRIN_DXE_UNUSED_IN_IMAGE ${_zephrin_root}/acpi_dxe/capture/AmlNameFinder.cpp
    ${_zephrin_root}/acpi_dxe/capture/AmlTermShapes.cpp)
set(ZEPHRIN_DXE_IMAGE_SOURCES ${ZEPHRIN_DXE_SOURCES})
list(REMOVE_ITEM ZEPHRIN_DXE_IMAGE_SOURCES ${ZEPHRIN_DXE_UNUSED_IN_IMAGE})
