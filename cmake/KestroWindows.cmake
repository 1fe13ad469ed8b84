# Windows program resources: the version record ("R01.04") and the application manifest, which
# asks for administrator rights (the log is written beside the program file, under Program Files
# once installed) and declares per-monitor DPI awareness.
#
#   kestro_windows_program(<target> DESCRIPTION <text>)
#
# MinGW's windres embeds the manifest from the resource script; MSVC's linker makes a manifest of
# its own, so there the manifest is handed to it as a source and merged instead.
enable_language(RC)

set(KESTRO_WINDOWS_RES_DIR ${PROJECT_SOURCE_DIR}/res/windows)

function(kestro_windows_program target)
  cmake_parse_arguments(P "" "DESCRIPTION" "" ${ARGN})
  if(NOT TARGET ${target})
    return()
  endif()
  set(KESTRO_RC_TARGET ${target})
  set(KESTRO_RC_FILE_NAME ${target}.exe)
  set(KESTRO_RC_DESCRIPTION "${P_DESCRIPTION}")
  # The kit's version as its texts show it; the numeric record carries the same 1.4.
  set(KESTRO_RC_VERSION_TEXT "R01.04")
  set(KESTRO_RC_VERSION_COMMAS "1,4,0,0")
  file(TO_CMAKE_PATH "${KESTRO_WINDOWS_RES_DIR}/kestro.manifest" KESTRO_RC_MANIFEST)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${KESTRO_WINDOWS_RES_DIR}/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  if(MSVC)
    target_sources(${target} PRIVATE ${KESTRO_WINDOWS_RES_DIR}/kestro.manifest)
  else()
    # Source properties belong to the directory of the target, not to this one.
    set_property(SOURCE ${rc} TARGET_DIRECTORY ${target}
      APPEND PROPERTY COMPILE_DEFINITIONS KESTRO_RC_EMBED_MANIFEST)
    set_property(SOURCE ${rc} TARGET_DIRECTORY ${target}
      APPEND PROPERTY OBJECT_DEPENDS ${KESTRO_WINDOWS_RES_DIR}/kestro.manifest)
  endif()
endfunction()
