// Moved to src/pieces, below both add-ons and builds; this name still reads.
#pragma once

#include "pieces/piece_cutter.h"
