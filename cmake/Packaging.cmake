# Install rules and the Debian packages, one per kind of machine that needs them:
#   orvane-update-cli  the command-line updater, the trusted keys, bash completion (no Qt: a
#                      station PC needs nothing else)
#   orvane-update      the window, its language bundle, desktop entry and icons (depends on
#                      orvane-update-cli for the keys it shares)
#   orvane-bootsim     the simulated receiver boot loader
#
#   cmake --build <dir> && cpack --config <dir>/CPackConfig.cmake -G DEB -B <dir>/package
#
# Build the package from a release build (the default preset); a sanitizer build links its
# run-time libraries, which the package does not depend on.
include(GNUInstallDirs)

install(TARGETS orvane-update RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
install(TARGETS orvane-update-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
# orvane-bootsim is installed by tools/bootsim, where its target is defined, so that it is
# stripped like the others.
install(FILES ${ORVANE_BUNDLE} DESTINATION ${CMAKE_INSTALL_DATADIR}/orvane-update COMPONENT window)
# The minisign public keys trusted to sign firmware packages (res/keys/*.pub).
# Only when there are any: an empty folder in a package says nothing.
file(GLOB ORVANE_TRUSTED_KEYS ${PROJECT_SOURCE_DIR}/res/keys/*.pub)
if(ORVANE_TRUSTED_KEYS)
  install(FILES ${ORVANE_TRUSTED_KEYS} DESTINATION ${CMAKE_INSTALL_DATADIR}/orvane-update/keys
          COMPONENT cli)
endif()
# lintian reads a run of bytes in the firmware tables as a misspelt word.
install(FILES ${PROJECT_SOURCE_DIR}/res/debian/orvane-update-cli.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME orvane-update-cli
        COMPONENT cli)
install(FILES ${PROJECT_SOURCE_DIR}/res/orvane-update.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
install(FILES ${PROJECT_SOURCE_DIR}/res/orvane-update.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT window)
install(FILES ${PROJECT_SOURCE_DIR}/res/completion/orvane-update-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT cli)

# Debian's copyright file and changelog (compressed as the policy asks), in every package.
# The package is Debian-native (no Debian revision): its changelog is changelog.gz.
set(changelog_gz ${CMAKE_BINARY_DIR}/debian/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/debian
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/res/debian/changelog > ${changelog_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/res/debian/changelog
  VERBATIM)
add_custom_target(orvane_changelog ALL DEPENDS ${changelog_gz})
foreach(entry "cli|orvane-update-cli" "window|orvane-update" "bootsim|orvane-bootsim")
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 component)
  list(GET entry 1 package)
  install(FILES ${PROJECT_SOURCE_DIR}/res/debian/copyright ${changelog_gz}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

# Manual pages made from each program's --help (help2man), compressed.
find_program(ORVANE_HELP2MAN help2man)
if(ORVANE_HELP2MAN)
  set(man_pages "")
  foreach(entry
      "orvane-update|window|firmware updater for satellite-positioning receivers (window)"
      "orvane-update-cli|cli|firmware updater for satellite-positioning receivers (command line)"
      "orvane-bootsim|bootsim|simulated boot loader of a satellite-positioning receiver")
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 component)
    list(GET entry 2 summary)
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
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endforeach()
  add_custom_target(orvane_man_pages ALL DEPENDS ${man_pages})
else()
  message(STATUS "help2man not found: no manual pages")
endif()
foreach(size 16 32 48 64 128)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/orvane-update-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME orvane-update.png COMPONENT window)
endforeach()

set(CPACK_PACKAGE_NAME "orvane-update")
set(CPACK_PACKAGE_VENDOR "Selvane Works")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Selvane Works <support@selvane.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
# What Debian's own packages drop besides the symbols: the compilers' notes.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/StripComments.cmake)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli window bootsim)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
# The shared libraries the programs link are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME "orvane-update-cli")
set(CPACK_DEBIAN_CLI_DESCRIPTION
    "Firmware updater for satellite-positioning receivers (command line)
Loads new firmware into a satellite-positioning receiver over a serial line,
through the receiver's boot loader, from a terminal or a script: progress,
exit codes, JSON records, and station mode for several receivers at once.
It needs no window system.")
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME "orvane-update")
# The Qt platform plug-ins that let the window open on X11 or Wayland are loaded at run time,
# so they are named here; the trusted keys come with the command-line package.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS
    "orvane-update-cli (= ${PROJECT_VERSION}), qt6-qpa-plugins")
# The Chinese interface needs a font with the CJK characters.
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei")
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
    "Firmware updater for satellite-positioning receivers (window)
Loads new firmware into a satellite-positioning receiver over a serial line,
through the receiver's boot loader: a desktop window with a message list, a
progress bar, port setup and signed firmware packages.")
set(CPACK_DEBIAN_BOOTSIM_PACKAGE_NAME "orvane-bootsim")
set(CPACK_DEBIAN_BOOTSIM_DESCRIPTION
    "Simulated boot loader of a satellite-positioning receiver
Answers the firmware updater on a pseudo-terminal or a serial device as a
receiver's boot loader does, checks every block, injects faults on request,
and writes a JSON report: for trying an update without hardware.")
include(CPack)
