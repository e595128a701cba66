// A device header that reaches up into the engine in the angle form: the layer check must refuse it.
#pragma once

#include <entry_point.h>
