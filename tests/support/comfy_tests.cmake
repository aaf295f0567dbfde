# Run by CTest after the test programs' tests are discovered: the tests whose
# suite name starts with "Comfy" (and the end-to-end tests of theme making,
# which need nginx as well) talk to the stand-in ComfyUI.
foreach(test IN LISTS unit_tests_TESTS)
  if(test MATCHES "^Comfy")
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED comfyui)
  endif()
endforeach()
foreach(test IN LISTS e2e_tests_TESTS)
  if(test MATCHES "^(Comfy|CreateTheme)")
    # A whole theme is some fifty ComfyUI runs: more time than other end-to-end tests.
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED "nginx;comfyui" TIMEOUT 900)
  endif()
endforeach()
