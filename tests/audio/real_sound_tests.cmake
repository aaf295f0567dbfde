# Run by CTest after the test programs' tests are discovered: the tests whose
# suite name starts with "RealSound" read the files that sox and flac made, so
# they need the sound_files fixture too.
foreach(test IN LISTS unit_tests_TESTS e2e_tests_TESTS)
  if(test MATCHES "^RealSound")
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED sound_files)
  endif()
endforeach()
