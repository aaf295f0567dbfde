// Named places where the test-key launcher can be made to die at once, as a
// power cut or the task manager would kill it, so that the tests can prove a
// kill there loses nothing. Only a program that calls enableCrashPoints (the
// test-key launcher) has them; in every other program crashPoint does nothing.
#pragma once

namespace vorlane {

// Reads the environment variable VORLANE_CRASH_AT once: the name of the point
// at which this run ends itself, "name" for its first pass or "name:N" for
// its N-th.
void enableCrashPoints();

// The free space, in bytes, the test-key launcher is told every disk has
// (the environment variable VORLANE_FREE_SPACE, read by enableCrashPoints), so
// that a test can meet a full disk; -1 when none is told.
long long injectedFreeSpace();

// Ends the process at once, with exit code 99 and nothing flushed or cleaned,
// when the crash point `name` is the one named.
void crashPoint(const wchar_t* name);

}  // namespace vorlane
