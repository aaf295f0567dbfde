// Moved to src/pieces, below both add-ons and builds; this name still reads.
#pragma once

#include "pieces/value_count.h"
