# Install rules: the two libraries with their public headers, a CMake package and a
# pkg-config file for each, and the programs. Components name the Debian packages
# (packaging/CMakeLists.txt):
#   rtsp    the stream library          play    the decode library
#   dev     headers, link names, CMake and pkg-config files
#   player  the player with its menu entry and icon
#   tools   the demo camera, the command-line receiver and the MP4 export
include(CMakePackageConfigHelpers)

set(BRELSO_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/brelso)
set(BRELSO_SHARED_HEADERS ${PROJECT_SOURCE_DIR}/common/frame/include/KXPackagedFrame.h
                          ${BRELSO_GENERATED_INCLUDE_DIR}/KXVersion.h)

# brelso_install_library(<target> <component> <public header> <description>)
function(brelso_install_library target component header description)
  add_library(Brelso::${target} ALIAS ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${target})
  install(TARGETS ${target} EXPORT ${target}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${component} NAMELINK_COMPONENT dev
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component}
    INCLUDES DESTINATION ${BRELSO_INSTALL_INCLUDEDIR})
  install(FILES ${header} ${BRELSO_SHARED_HEADERS} DESTINATION ${BRELSO_INSTALL_INCLUDEDIR}
          COMPONENT dev)

  set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/${target})
  set(stage ${PROJECT_BINARY_DIR}/package/${target})
  install(EXPORT ${target}Targets NAMESPACE Brelso:: DESTINATION ${config_dir} COMPONENT dev)
  set(BRELSO_LIBRARY ${target})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/LibraryConfig.cmake.in
    ${stage}/${target}Config.cmake INSTALL_DESTINATION ${config_dir})
  write_basic_package_version_file(${stage}/${target}ConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${stage}/${target}Config.cmake ${stage}/${target}ConfigVersion.cmake
          DESTINATION ${config_dir} COMPONENT dev)

  # pkg-config: the prefix is found from the file's own place, so a moved or staged install
  # (DESTDIR) works as well as the installed one.
  set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  file(RELATIVE_PATH BRELSO_PC_PREFIX_FROM_PCFILEDIR /${pc_dir} /)
  string(REGEX REPLACE "/$" "" BRELSO_PC_PREFIX_FROM_PCFILEDIR "${BRELSO_PC_PREFIX_FROM_PCFILEDIR}")
  set(BRELSO_PC_DESCRIPTION "${description}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in ${stage}/${target}.pc @ONLY)
  install(FILES ${stage}/${target}.pc DESTINATION ${pc_dir} COMPONENT dev)
endfunction()

brelso_install_library(KXRtspSdk rtsp ${PROJECT_SOURCE_DIR}/sdk/include/KXRtspSdk.h
  "Brelso stream library: RTSP/RTP sessions, packaged frames, .qf recording")
if(TARGET KXPlaySdk)
  brelso_install_library(KXPlaySdk play ${PROJECT_SOURCE_DIR}/playsdk/include/KXPlaySdk.h
    "Brelso decode library: H.264, MPEG-4, AAC and G.711 decoding and playback")
endif()

foreach(program democam kxnetcli qf2mp4)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()
if(TARGET BrelsoPlayer)
  install(TARGETS BrelsoPlayer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT player)
endif()
