# Run by CTest after the test programs' tests are discovered: the tests whose
# suite name starts with "Comfy" talk to the stand-in ComfyUI, and those
# starting with "Hub" to it and to the stand-in Hugging Face hub.
foreach(test IN LISTS unit_tests_TESTS e2e_tests_TESTS)
  if(test MATCHES "^Comfy")
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED comfyui)
  elseif(test MATCHES "^Hub")
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED "comfyui;hub")
  endif()
endforeach()
