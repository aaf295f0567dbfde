# Run by CTest after the test programs' tests are discovered: the tests whose
# suite name starts with "Comfy" talk to the stand-in ComfyUI, those starting
# with "Hub" to it and to the stand-in Hugging Face hub, and the end-to-end
# tests of theme making to ComfyUI (the create-theme window's to the hub as
# well). End-to-end tests keep nginx as well.
foreach(test IN LISTS unit_tests_TESTS)
  if(test MATCHES "^Comfy")
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED comfyui)
  elseif(test MATCHES "^Hub")
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED "comfyui;hub")
  endif()
endforeach()
foreach(test IN LISTS e2e_tests_TESTS)
  if(test MATCHES "^CreateThemeWindow")
    # The window also downloads model files from the stand-in hub.
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED "nginx;comfyui;hub" TIMEOUT 900)
  elseif(test MATCHES "^(Comfy|CreateTheme)")
    # A whole theme is some fifty ComfyUI runs: more time than other end-to-end tests.
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED "nginx;comfyui" TIMEOUT 900)
  elseif(test MATCHES "^Hub")
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED "nginx;comfyui;hub")
  endif()
endforeach()
