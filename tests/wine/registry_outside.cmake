# The stored port name set from outside the updater, with Wine's own registry tool, and read
# back by the updater's getter.
#   cmake -DRUN=<tests/wine/run> -DPREFIX=<wine prefix> -DTEST=<platform_win32_test.exe> -P ...
# Output goes to files: Wine's server keeps inherited pipes open.
set(key "HKCU\\Software\\Selvane Works")
set(out ${PREFIX}.registry_outside)
foreach(port COM42 COM7)
  execute_process(COMMAND ${RUN} ${PREFIX} reg add ${key} /v PortOfMonitor /t REG_SZ /d ${port} /f
                  OUTPUT_FILE ${out}.reg ERROR_FILE ${out}.reg RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    file(READ ${out}.reg text)
    message(FATAL_ERROR "reg add failed (${rc}): ${text}")
  endif()
  set(ENV{ORVANE_EXPECT_PORT} ${port})
  execute_process(COMMAND ${RUN} ${PREFIX} ${TEST} --gtest_filter=PortOfMonitor.*
                  OUTPUT_FILE ${out}.test ERROR_FILE ${out}.test RESULT_VARIABLE rc)
  file(READ ${out}.test text)
  message("${text}")
  if(NOT rc EQUAL 0 OR NOT text MATCHES "PASSED  \\] 1 test" OR text MATCHES "SKIPPED")
    message(FATAL_ERROR "the getter did not read ${port}")
  endif()
endforeach()
execute_process(COMMAND ${RUN} ${PREFIX} reg delete ${key} /f
                OUTPUT_FILE ${out}.reg ERROR_FILE ${out}.reg)
