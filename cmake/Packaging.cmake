# Install rules and the Debian package of the desktop updater, its command-line sibling, the
# simulated boot loader, the language bundle, the desktop entry and the icons.
#
#   cmake --build <dir> && cpack --config <dir>/CPackConfig.cmake -G DEB -B <dir>/package
#
# Build the package from a release build (the default preset); a sanitizer build links its
# run-time libraries, which the package does not depend on.
include(GNUInstallDirs)

install(TARGETS orvane-update RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET orvane-update-cli OR EXISTS ${PROJECT_SOURCE_DIR}/src/app/cli_main.cpp)
  install(TARGETS orvane-update-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/tools/bootsim/CMakeLists.txt)
  # Defined later (tools/), so named by its file rather than as a target here.
  install(PROGRAMS $<TARGET_FILE:orvane-bootsim> DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${ORVANE_BUNDLE} DESTINATION ${CMAKE_INSTALL_DATADIR}/orvane-update)
# The minisign public keys trusted to sign firmware packages (res/keys/*.pub).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/res/keys/ DESTINATION ${CMAKE_INSTALL_DATADIR}/orvane-update/keys
        FILES_MATCHING PATTERN "*.pub")
install(FILES ${PROJECT_SOURCE_DIR}/res/orvane-update.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 48 64 128)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/orvane-update-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME orvane-update.png)
endforeach()

set(CPACK_PACKAGE_NAME "orvane-update")
set(CPACK_PACKAGE_VENDOR "Selvane Works")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for satellite-positioning receivers")
set(CPACK_PACKAGE_DESCRIPTION
    "Loads new firmware into a satellite-positioning receiver over a serial line: a desktop window, a command-line updater and a simulated receiver boot loader for trying it without hardware.")
set(CPACK_PACKAGE_CONTACT "Selvane Works <support@selvane.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
# The Qt run-time libraries and the platform plugins that let the window open on X11 or
# Wayland, and libgcrypt (firmware package signatures); the C and C++ libraries come with
# every Debian system that has Qt 6.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6, libqt6gui6, libqt6widgets6, qt6-qpa-plugins, libgcrypt20, libgpg-error0")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
# The Chinese interface needs a font with the CJK characters.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei")
include(CPack)
