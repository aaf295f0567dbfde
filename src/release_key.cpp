// The release public key compiled into one program: 128 hex digits given by the
// build (VORLANE_RELEASE_KEY_HEX). Each program that links the library adds
// this file with its own key.
#include "net/release_key.h"

namespace vorlane {
const char* const kReleaseKeyHex = VORLANE_RELEASE_KEY_HEX;
}
