# Install rules and the Debian package of the desktop updater, its command-line sibling, the
# simulated boot loader, the language bundle, the desktop entry and the icons.
#
#   cmake --build <dir> && cpack --config <dir>/CPackConfig.cmake -G DEB -B <dir>/package
#
# Build the package from a release build (the default preset); a sanitizer build links its
# run-time libraries, which the package does not depend on.
include(GNUInstallDirs)

install(TARGETS orvane-update RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS orvane-update-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# orvane-bootsim is installed by tools/bootsim, where its target is defined, so that it is
# stripped like the others.
install(FILES ${ORVANE_BUNDLE} DESTINATION ${CMAKE_INSTALL_DATADIR}/orvane-update)
# The minisign public keys trusted to sign firmware packages (res/keys/*.pub).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/res/keys/ DESTINATION ${CMAKE_INSTALL_DATADIR}/orvane-update/keys
        FILES_MATCHING PATTERN "*.pub")
install(FILES ${PROJECT_SOURCE_DIR}/res/orvane-update.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/orvane-update.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/res/completion/orvane-update-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Debian's copyright file and changelog (compressed as the policy asks).
set(ORVANE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/orvane-update)
# The package is Debian-native (no Debian revision): its changelog is changelog.gz.
set(changelog_gz ${CMAKE_BINARY_DIR}/debian/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/debian
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/res/debian/changelog > ${changelog_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/res/debian/changelog
  VERBATIM)
add_custom_target(orvane_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${PROJECT_SOURCE_DIR}/res/debian/copyright ${changelog_gz}
        DESTINATION ${ORVANE_DOC_DIR})

# Manual pages made from each program's --help (help2man), compressed.
find_program(ORVANE_HELP2MAN help2man)
if(ORVANE_HELP2MAN)
  set(man_pages "")
  foreach(entry
      "orvane-update|firmware updater for satellite-positioning receivers (window)"
      "orvane-update-cli|firmware updater for satellite-positioning receivers (command line)"
      "orvane-bootsim|simulated boot loader of a satellite-positioning receiver")
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 summary)
    # orvane-bootsim is defined later (tools/); generator expressions find it all the same.
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    set(include ${PROJECT_SOURCE_DIR}/res/man/${program}.h2m)
    # help2man runs a stand-in of the program's own name (so the usage line shows the name and
    # not the build folder) that gives the help with its exit-code table marked as the page's
    # EXIT STATUS; the window's --help needs no screen with the offscreen platform. The
    # version is given, as not every program answers --version.
    set(stand_in ${CMAKE_BINARY_DIR}/man-help/${program})
    file(GENERATE OUTPUT ${stand_in}
         CONTENT "#!/bin/sh\nexec ${PROJECT_SOURCE_DIR}/res/man/help-for-man $<TARGET_FILE:${program}> \"$@\"\n")
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      # file(GENERATE) cannot be told to make it executable here (it aborts cmake 3.25).
      COMMAND chmod +x ${stand_in}
      COMMAND ${CMAKE_COMMAND} -E env "PATH=${CMAKE_BINARY_DIR}/man-help:$ENV{PATH}"
              QT_QPA_PLATFORM=offscreen
              ${ORVANE_HELP2MAN} --no-info --include=${include}
              --version-string=${PROJECT_VERSION} --name=${summary}
              --section=1 --output=${page} ${program}
      COMMAND gzip -9nf ${page}
      DEPENDS ${program} ${include} ${PROJECT_SOURCE_DIR}/res/man/help-for-man
      VERBATIM)
    list(APPEND man_pages ${page}.gz)
  endforeach()
  add_custom_target(orvane_man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no manual pages")
endif()
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
    "Loads new firmware into a satellite-positioning receiver over a serial line,\n"
    "through the receiver's boot loader: a desktop window, a command-line updater\n"
    "for scripts and production stations, and a simulated receiver boot loader for\n"
    "trying an update without hardware.")
set(CPACK_PACKAGE_CONTACT "Selvane Works <support@selvane.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
# The shared libraries the programs link are found by dpkg-shlibdeps; the Qt platform plugins
# that let the window open on X11 or Wayland are loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Chinese interface needs a font with the CJK characters.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei")
include(CPack)
