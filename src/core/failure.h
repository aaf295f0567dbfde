// A failure as the player reads it: a finished sentence, and where a system
// call failed, the system's error number, which the sentence then carries as
// " (error N)" before its full stop.
#pragma once

#include <windows.h>

#include <string>

namespace vorlane {

struct Failure {
    std::wstring sentence;  // empty: no failure
    DWORD systemError = 0;  // 0: not a system call's failure

    explicit operator bool() const { return !sentence.empty(); }
    // The sentence with " (error N)" put before its final full stop when
    // systemError is set: "Couldn't put the new build in place (error 5)."
    std::wstring text() const;
};

// A failure of the system call that just failed on this thread (GetLastError).
Failure systemFailure(const std::wstring& sentence);
Failure systemFailure(const std::wstring& sentence, DWORD error);

}  // namespace vorlane
