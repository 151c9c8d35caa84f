# The Windows installer (NSIS, Debian package nsis): `cmake --build build/windows --target
# installer` lays the programs out as installed, stripped, in a stage folder and runs makensis
# over res/windows/orvane-update.nsi. The result is build/windows/orvane-update-<version>-setup.exe.
find_program(ORVANE_MAKENSIS makensis)
if(NOT ORVANE_MAKENSIS)
  message(WARNING "makensis not found (Debian package nsis): no installer target")
  return()
endif()
set(stage ${CMAKE_BINARY_DIR}/installer-stage)
set(setup ${CMAKE_BINARY_DIR}/orvane-update-${PROJECT_VERSION}-setup.exe)
set(programs orvane-update-cli)
get_filename_component(setup_name ${setup} NAME)
set(defines -DVERSION=${PROJECT_VERSION} -DSTAGE=${stage} -DOUTFILE=${setup}
  -DOUTNAME=${setup_name})
if(TARGET orvane-update)
  list(APPEND programs orvane-update)
  list(APPEND defines -DWINDOW)
endif()
set(copy_programs)
set(programs_built ${programs})
foreach(program ${programs})
  list(APPEND copy_programs
    COMMAND ${CMAKE_STRIP} -o ${stage}/bin/$<TARGET_FILE_NAME:${program}> $<TARGET_FILE:${program}>)
endforeach()
set(copy_extras)
if(TARGET OrvaneUpdateChs)
  # The Chinese resource library goes beside the window program, where it is looked for first.
  list(APPEND copy_extras COMMAND ${CMAKE_STRIP} -o ${stage}/bin/OrvaneUpdateChs.dll
    $<TARGET_FILE:OrvaneUpdateChs>)
  list(APPEND programs_built OrvaneUpdateChs)
endif()
file(GLOB keys ${PROJECT_SOURCE_DIR}/res/keys/*.pub)
if(keys)
  list(APPEND copy_extras COMMAND ${CMAKE_COMMAND} -E copy ${keys} ${stage}/share/orvane-update/keys/)
endif()
add_custom_command(OUTPUT ${setup}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/bin ${stage}/share/orvane-update/keys
  ${copy_programs}
  ${copy_extras}
  COMMAND ${ORVANE_MAKENSIS} -V2 ${defines} ${PROJECT_SOURCE_DIR}/res/windows/orvane-update.nsi
  DEPENDS ${programs_built} ${PROJECT_SOURCE_DIR}/res/windows/orvane-update.nsi ${keys}
  COMMENT "Windows installer ${setup}"
  VERBATIM)
add_custom_target(installer ALL DEPENDS ${setup})
