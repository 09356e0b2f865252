# What every shipped Windows image gets: a version resource, its debug
# information moved to NAME.debug beside it (found through a debug link),
# the same bytes from the same inputs, and optionally a signature.
#
#   VANTEL_SIGN_PKCS12         certificate and key (PKCS#12) to sign the installer
#   VANTEL_SIGN_PASSWORD_FILE  file holding that file's password
#   VANTEL_SIGN_TIMESTAMP_URL  RFC 3161 time-stamp server (optional)

# The version is written once, in app/version.h.
set(version_header ${PROJECT_SOURCE_DIR}/app/version.h)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${version_header})
file(STRINGS ${version_header} version_line REGEX "^#define VANTEL_VERSION_TEXT ")
if(NOT version_line MATCHES "^#define VANTEL_VERSION_TEXT \"([0-9]+)\\.([0-9]+)\\.([0-9]+)\"$")
  message(FATAL_ERROR "${version_header}: VANTEL_VERSION_TEXT is not \"A.B.C\"")
endif()
set(VANTEL_VERSION_TEXT "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}")
set(version_parts)
foreach(part ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3})
  math(EXPR part "${part}")  # "06" is 6
  list(APPEND version_parts ${part})
endforeach()
list(APPEND version_parts 0)
list(JOIN version_parts "," VANTEL_VERSION_COMMAS)
list(JOIN version_parts "." VANTEL_VERSION_DOTS)

# The product's identity, as the version resources show it.
set(VANTEL_PRODUCT_NAME "Vantel防关联")
set(VANTEL_COMPANY "QuessaInfo")
set(VANTEL_COPYRIGHT "Copyright © QuessaInfo")

set(VANTEL_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file to sign the installer with (empty: unsigned)")
set(VANTEL_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the PKCS#12 password")
set(VANTEL_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the signature (optional)")
if(VANTEL_SIGN_PKCS12)
  foreach(input VANTEL_SIGN_PKCS12 VANTEL_SIGN_PASSWORD_FILE)
    if(NOT ${input} OR NOT EXISTS "${${input}}" OR IS_DIRECTORY "${${input}}")
      message(FATAL_ERROR "${input}: '${${input}}' is not a file")
    endif()
  endforeach()
  if(VANTEL_SIGN_TIMESTAMP_URL AND NOT VANTEL_SIGN_TIMESTAMP_URL MATCHES "^https?://[^ ]+$")
    message(FATAL_ERROR "VANTEL_SIGN_TIMESTAMP_URL: '${VANTEL_SIGN_TIMESTAMP_URL}' is not an http(s) URL")
  endif()
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
endif()

# The PE time stamp: 0, as the linker leaves it, unless the environment
# gives a source date.
set(VANTEL_SOURCE_DATE_EPOCH 0)
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  set(VANTEL_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
endif()

# Same sources, same bytes: no link time in the PE header, and fixed names
# for the source and build folders in the debug information (the debug
# link's CRC covers it). The build folder is often inside the sources, so
# its mapping comes last: GCC takes the last matching one.
function(vantel_reproducible_flags)
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=/vantel-src
                      -ffile-prefix-map=${CMAKE_BINARY_DIR}=/vantel-build)
  if(WIN32)
    add_link_options(-Wl,--no-insert-timestamp)
  endif()
endfunction()

# vantel_release_image(TARGET DESCRIPTION text [ICON file.ico] [MANIFEST file.in] [SIGN])
function(vantel_release_image target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "SIGN" "DESCRIPTION;ICON;MANIFEST" "")
  set(VANTEL_FILE_DESCRIPTION "${arg_DESCRIPTION}")
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(VANTEL_ORIGINAL_NAME "${name}.exe")
  set(VANTEL_ICON_LINE "")
  if(arg_ICON)
    set(VANTEL_ICON_LINE "100 ICON \"${arg_ICON}\"")
  endif()
  set(VANTEL_MANIFEST_LINE "")
  # The manifest names the image's own architecture: an image that names
  # another one gets the old common controls.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VANTEL_MANIFEST_ARCH amd64)
  else()
    set(VANTEL_MANIFEST_ARCH x86)
  endif()
  if(arg_MANIFEST)
    set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
    configure_file(${arg_MANIFEST} ${manifest} @ONLY)
    set(VANTEL_MANIFEST_LINE "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${manifest}\"")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${arg_ICON};${manifest}")

  set(image $<TARGET_FILE_NAME:${target}>)
  set(sign_commands)
  if(arg_SIGN AND VANTEL_SIGN_PKCS12)
    # The unsigned image stays beside the signed one: it is what a rebuild
    # reproduces byte for byte.
    set(unsigned $<TARGET_FILE_BASE_NAME:${target}>-unsigned$<TARGET_FILE_SUFFIX:${target}>)
    set(timestamp)
    if(VANTEL_SIGN_TIMESTAMP_URL)
      set(timestamp -ts ${VANTEL_SIGN_TIMESTAMP_URL})
    endif()
    set(sign_commands
      COMMAND ${CMAKE_COMMAND} -E copy ${image} ${unsigned}
      COMMAND ${CMAKE_COMMAND} -E rm -f ${image}.signed
      COMMAND ${OSSLSIGNCODE} sign -pkcs12 ${VANTEL_SIGN_PKCS12} -readpass ${VANTEL_SIGN_PASSWORD_FILE}
              -h sha256 -n ${VANTEL_PRODUCT_NAME} ${timestamp} -in ${unsigned} -out ${image}.signed
      COMMAND ${CMAKE_COMMAND} -E rename ${image}.signed ${image})
  endif()
  # objcopy stamps the PE header with the time unless told a date.
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${VANTEL_SOURCE_DATE_EPOCH} ${CMAKE_OBJCOPY})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${objcopy} --only-keep-debug ${image} ${image}.debug
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${image}.debug ${image}
    ${sign_commands}
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Release image ${target}: stripped, debug file beside it"
    VERBATIM)
endfunction()
