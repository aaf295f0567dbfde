# Run by CTest once the tests are discovered: the window tests take turns on
# the one test display, so that no other window test's window lies over the
# window a screenshot is taken of.
foreach(test IN LISTS e2e_tests_TESTS)
  if(test MATCHES "^(MainWindow|ThemeFilesWindow|CreateThemeWindow|WindowAtOnce)\\.")
    set_tests_properties("${test}" PROPERTIES RESOURCE_LOCK display)
  endif()
endforeach()
