// PNG files for the tests, encoded by the system's imaging component.
#pragma once

#include <string>

namespace vorlane::testing {

// A width x height 32-bit PNG: a colour gradient with a transparent border a
// tenth of the smaller side wide; empty when the system can't encode one.
std::string pngOf(int width, int height);

}  // namespace vorlane::testing
