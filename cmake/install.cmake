# What `cmake --install` puts in place: the public header, the shared library with a CMake
# package and a pkg-config file, the tool and (when built) the service.
include(CMakePackageConfigHelpers)

# The installed binaries carry no symbols or debug information (with them the service is about
# 49 MB); the build tree keeps both. The stripping is CMake's own, that of `cmake --install
# --strip`, for this rule and every later one: the tool's and the service's.
if(QUOREL_INSTALL_STRIPPED)
  install(CODE "set(CMAKE_INSTALL_DO_STRIP TRUE)")
endif()

set(QUOREL_PACKAGE_FOLDER ${CMAKE_INSTALL_LIBDIR}/cmake/VantrelQuorelSpeech)

target_include_directories(VantrelQuorelSpeech
                           INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(VantrelQuorelSpeech PROPERTIES VERSION ${PROJECT_VERSION}
                                                     SOVERSION ${PROJECT_VERSION_MAJOR})
install(TARGETS VantrelQuorelSpeech EXPORT VantrelQuorelSpeechTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/VantrelQuorelSpeech.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT VantrelQuorelSpeechTargets NAMESPACE VantrelQuorelSpeech::
        DESTINATION ${QUOREL_PACKAGE_FOLDER})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VantrelQuorelSpeechConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/VantrelQuorelSpeechConfig.cmake
                              INSTALL_DESTINATION ${QUOREL_PACKAGE_FOLDER})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VantrelQuorelSpeechConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VantrelQuorelSpeechConfig.cmake
              ${PROJECT_BINARY_DIR}/VantrelQuorelSpeechConfigVersion.cmake
        DESTINATION ${QUOREL_PACKAGE_FOLDER})

# Relative to the .pc file's own folder, so the installed tree may be moved.
file(RELATIVE_PATH QUOREL_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(${CMAKE_CURRENT_LIST_DIR}/VantrelQuorelSpeech.pc.in
               ${PROJECT_BINARY_DIR}/VantrelQuorelSpeech.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/VantrelQuorelSpeech.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
