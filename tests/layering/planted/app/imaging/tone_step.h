// An imaging header that reaches up into the panels in the angle form: the layer check must refuse it.
#pragma once

#include <slider_row.h>
