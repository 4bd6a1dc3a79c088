# Probe images: tiny UEFI images that tests build with the firmware toolchain
# (freestanding clang + lld-link), so loaders and converters are tested on what
# a real linker writes.
#
#   zephrin_probe_image(<test target> <image target> <source> <entry> <x64|ia32>
#                       <definition> [extra lld-link options...])
#
# Builds <source> into <image target>.efi beside the test's objects, makes
# <test target> depend on it and hands the image's path to the test as the
# compile definition <definition>. Without clang++ or lld-link nothing is built
# and the test sees no definition (its image tests skip).
find_program(ZEPHRIN_FW_CLANGXX NAMES clang++)
find_program(ZEPHRIN_FW_LLD_LINK NAMES lld-link)

function(zephrin_probe_image TEST_TARGET IMAGE_TARGET SOURCE ENTRY ARCH DEFINITION)
  if(NOT ZEPHRIN_FW_CLANGXX OR NOT ZEPHRIN_FW_LLD_LINK)
    return()
  endif()
  if(ARCH STREQUAL "x64")
    set(CLANG_TARGET x86_64-unknown-windows)
    set(ARCH_FLAGS -mno-red-zone)
    set(MACHINE x64)
  elseif(ARCH STREQUAL "ia32")
    set(CLANG_TARGET i686-unknown-windows)
    set(ARCH_FLAGS "")
    set(MACHINE x86)
  else()
    message(FATAL_ERROR "zephrin_probe_image: ARCH is x64 or ia32, not ${ARCH}")
  endif()
  get_filename_component(NAME ${SOURCE} NAME_WE)
  set(OBJECT ${CMAKE_CURRENT_BINARY_DIR}/${NAME}.obj)
  set(IMAGE ${CMAKE_CURRENT_BINARY_DIR}/${NAME}.efi)
  add_custom_command(OUTPUT ${IMAGE}
    COMMAND ${ZEPHRIN_FW_CLANGXX} --target=${CLANG_TARGET} -std=c++17 -ffreestanding -nostdinc
            -fno-exceptions -fno-rtti -fno-stack-protector -mno-stack-arg-probe -fno-builtin -fshort-wchar
            ${ARCH_FLAGS} -Os -Wall -Wextra -Werror -I${CMAKE_SOURCE_DIR} -c ${SOURCE} -o ${OBJECT}
    COMMAND ${ZEPHRIN_FW_LLD_LINK} /nologo /subsystem:efi_boot_service_driver /entry:${ENTRY}
            /nodefaultlib /dynamicbase /machine:${MACHINE} ${ARGN} /out:${IMAGE} ${OBJECT}
    DEPENDS ${SOURCE}
    VERBATIM)
  add_custom_target(${IMAGE_TARGET} DEPENDS ${IMAGE})
  add_dependencies(${TEST_TARGET} ${IMAGE_TARGET})
  target_compile_definitions(${TEST_TARGET} PRIVATE ${DEFINITION}="${IMAGE}")
endfunction()
