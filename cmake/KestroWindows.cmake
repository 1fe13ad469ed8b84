# Windows program resources: the icon, the version record ("R01.04") and the application manifest,
# which runs the programs with the user's own rights (no file virtualisation) and declares
# per-monitor DPI awareness.
#
#   kestro_windows_program(<target> DESCRIPTION <text> [STANDALONE])
#
# STANDALONE: the program links the compiler's runtime statically even in a build whose other
# programs share Qt's runtime DLLs, so that it runs wherever it is copied on its own.
#
# MinGW's windres embeds the manifest from the resource script; MSVC's linker makes a manifest of
# its own, so there the manifest is handed to it as a source and merged instead.
enable_language(RC)

set(KESTRO_WINDOWS_RES_DIR ${PROJECT_SOURCE_DIR}/res/windows)

function(kestro_windows_program target)
  cmake_parse_arguments(P "STANDALONE" "DESCRIPTION" "" ${ARGN})
  if(NOT TARGET ${target})
    return()
  endif()
  if(P_STANDALONE AND KESTRO_MINGW_SHARED_RUNTIME)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
  set(KESTRO_RC_TARGET ${target})
  set(KESTRO_RC_FILE_NAME ${target}.exe)
  set(KESTRO_RC_DESCRIPTION "${P_DESCRIPTION}")
  # The kit's version as its texts show it; the numeric record carries the same 1.4.
  set(KESTRO_RC_VERSION_TEXT "R01.04")
  set(KESTRO_RC_VERSION_COMMAS "1,4,0,0")
  file(TO_CMAKE_PATH "${KESTRO_WINDOWS_RES_DIR}/kestro.manifest" KESTRO_RC_MANIFEST)
  file(TO_CMAKE_PATH "${KESTRO_WINDOWS_RES_DIR}/kestro.ico" KESTRO_RC_ICON)
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
      APPEND PROPERTY OBJECT_DEPENDS ${KESTRO_WINDOWS_RES_DIR}/kestro.manifest
                                     ${KESTRO_WINDOWS_RES_DIR}/kestro.ico)
  endif()
endfunction()

# The runtime of a build against Qt's DLLs, copied beside the programs in <build>/bin so that they
# (and the window's tests) start there, and installed with them: Qt's DLLs, the platform and style
# plugins in the sub-folders where Qt looks for them beside the program, and the compiler's runtime
# DLLs, which Qt's DLLs share with the programs.
function(kestro_windows_runtime)
  if(NOT TARGET Qt6::Widgets OR NOT KESTRO_MINGW_SHARED_RUNTIME)
    return()
  endif()
  set(bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  set(commands)
  set(qt_dlls)
  foreach(qt Qt6::Core Qt6::Gui Qt6::Widgets)
    list(APPEND qt_dlls $<TARGET_FILE:${qt}>)
  endforeach()
  if(TARGET Qt6::Test AND KESTRO_BUILD_TESTS)
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::Test> ${bin})
  endif()
  set(plugins platforms Qt6::QWindowsIntegrationPlugin platforms Qt6::QOffscreenIntegrationPlugin
              styles Qt6::QWindowsVistaStylePlugin)
  set(plugin_files)
  while(plugins)
    list(POP_FRONT plugins folder plugin)
    if(TARGET ${plugin})
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E make_directory ${bin}/${folder}
                           COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${plugin}> ${bin}/${folder})
      install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${CMAKE_INSTALL_BINDIR}/${folder})
    endif()
  endwhile()
  set(runtime_dlls)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
      OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
      message(FATAL_ERROR "The compiler's runtime ${dll} was not found (${CMAKE_CXX_COMPILER})")
    endif()
    get_filename_component(path "${path}" REALPATH)
    list(APPEND runtime_dlls ${path})
  endforeach()
  add_custom_target(kestro_windows_runtime ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${bin}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${qt_dlls} ${runtime_dlls} ${bin}
    ${commands}
    COMMENT "Copying Qt's and the compiler's runtime DLLs beside the programs"
    VERBATIM)
  install(FILES ${qt_dlls} ${runtime_dlls} DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# libpq.dll, where the history links libpq for Windows (scripts/libpq-windows: the import library
# in lib/, the DLL in bin/ beside it), copied beside the programs in <build>/bin and installed with
# them. It needs no DLL beyond Windows' own, so that the command-line kit, which links the
# compiler's runtime statically, still runs wherever it is copied together with libpq.dll.
function(kestro_windows_libpq)
  if(NOT PostgreSQL_LIBRARY OR NOT PostgreSQL_LIBRARY MATCHES "\\.dll\\.a$")
    return()
  endif()
  get_filename_component(lib_dir "${PostgreSQL_LIBRARY}" DIRECTORY)
  get_filename_component(dll "${lib_dir}/../bin/libpq.dll" ABSOLUTE)
  if(NOT EXISTS "${dll}")
    message(FATAL_ERROR "libpq.dll is not beside its import library ${PostgreSQL_LIBRARY} (looked for ${dll})")
  endif()
  add_custom_target(kestro_windows_libpq ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dll} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
    COMMENT "Copying libpq.dll beside the programs"
    VERBATIM)
  install(FILES ${dll} DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
