# The installer's payload: the product folder packed by the host ezpack and
# embedded as an RCDATA resource holding the container (dimension 1, byte
# length, packed envelope).
#
#   VANTEL_PRODUCT_DIR  folder to pack; empty packs the demo product
#                       (demo_vantelpa as VantelPA.exe + demo-product/files)
#   EZPACK_EXECUTABLE   host ezpack; empty builds one from this source tree
include(ExternalProject)

function(vantel_host_ezpack out_exe out_dependency)
  if(EZPACK_EXECUTABLE)
    set(${out_exe} ${EZPACK_EXECUTABLE} PARENT_SCOPE)
    set(${out_dependency} ${EZPACK_EXECUTABLE} PARENT_SCOPE)
    return()
  endif()
  # A host build of the tools alone; the cross toolchain is not passed on.
  set(host_dir ${CMAKE_BINARY_DIR}/ezpack-host)
  if(NOT TARGET ezpack_host)
    ExternalProject_Add(ezpack_host
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${host_dir}
      CMAKE_ARGS -DVANTEL_TOOLS_ONLY=ON -DCMAKE_BUILD_TYPE=Release
      BUILD_COMMAND ${CMAKE_COMMAND} --build ${host_dir} --target ezpack
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
      BUILD_BYPRODUCTS ${host_dir}/tools/ezpack/ezpack)
  endif()
  set(${out_exe} ${host_dir}/tools/ezpack/ezpack PARENT_SCOPE)
  set(${out_dependency} ezpack_host PARENT_SCOPE)
endfunction()

function(vantel_embed_payload target)
  set(gen ${CMAKE_CURRENT_BINARY_DIR}/payload)
  file(MAKE_DIRECTORY ${gen})
  vantel_host_ezpack(ezpack ezpack_dependency)

  set(stage_commands)
  if(VANTEL_PRODUCT_DIR)
    set(product ${VANTEL_PRODUCT_DIR})
    file(GLOB_RECURSE product_files CONFIGURE_DEPENDS ${product}/*)
  else()
    # The demo product is staged into one folder, then packed.
    set(product ${gen}/demo-product)
    set(demo_files_dir ${PROJECT_SOURCE_DIR}/demo-product/files)
    file(GLOB_RECURSE product_files CONFIGURE_DEPENDS ${demo_files_dir}/*)
    list(APPEND product_files demo_vantelpa)
    set(stage_commands
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${product}
      COMMAND ${CMAKE_COMMAND} -E copy_directory ${demo_files_dir} ${product}
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:demo_vantelpa> ${product}/VantelPA.exe)
  endif()

  set(container ${gen}/payload.container)
  add_custom_command(OUTPUT ${container}
    ${stage_commands}
    COMMAND ${ezpack} pack ${product} ${gen}/payload.ez
    COMMAND ${ezpack} container ${gen}/payload.ez ${container}
    DEPENDS ${product_files} ${ezpack_dependency}
    COMMENT "Packing the product folder into the installer payload"
    VERBATIM)
  add_custom_target(${target}_payload DEPENDS ${container})

  # The resource name must match VANTEL_PAYLOAD_RESOURCE (payload/embedded_payload.h).
  set(rc ${gen}/payload.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "VANTELPAYLOAD RCDATA \"@container@\"\n" @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${container})
  add_dependencies(${target} ${target}_payload)
endfunction()
