# Writes the launcher's version header: the commit's first eight hex digits,
# with "+" when the work tree has changes, or "dev" outside git.
# Run at every build; the header is rewritten only when the text changes.
execute_process(COMMAND git rev-parse --short=8 HEAD
                WORKING_DIRECTORY ${SOURCE_DIR}
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE rc ERROR_QUIET)
if(rc EQUAL 0 AND commit MATCHES "^[0-9a-f]+$")
  string(SUBSTRING "${commit}" 0 8 version)
  execute_process(COMMAND git status --porcelain --untracked-files=no
                  WORKING_DIRECTORY ${SOURCE_DIR}
                  OUTPUT_VARIABLE dirty OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT dirty STREQUAL "")
    string(APPEND version "+")
  endif()
else()
  set(version "dev")
endif()
set(text "#pragma once\n#define VORLANE_VERSION L\"${version}\"\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
