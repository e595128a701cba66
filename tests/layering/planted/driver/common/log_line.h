// A bottom-layer header that reaches up into the engine: the layer check must refuse it.
#pragma once

#include "entry_point.h"
