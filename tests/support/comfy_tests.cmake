# Run by CTest after the test programs' tests are discovered: the tests whose
# suite name starts with "Comfy" talk to the stand-in ComfyUI.
foreach(test IN LISTS unit_tests_TESTS)
  if(test MATCHES "^Comfy")
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED comfyui)
  endif()
endforeach()
