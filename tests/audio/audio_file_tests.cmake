# Run by CTest after the test programs' tests are discovered: the suites that
# read the files made by the reference encoders (FlacFiles, WavFiles) need the
# flac_files fixture (and no build server).
foreach(test IN LISTS unit_tests_TESTS)
  if(test MATCHES "^(FlacFiles|WavFiles)\\.")
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED flac_files)
  endif()
endforeach()
