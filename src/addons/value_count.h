// The bound on a JSON document's values lives with the JSON reader now.
#pragma once

#include "core/value_count.h"
