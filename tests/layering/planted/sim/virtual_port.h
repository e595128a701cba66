// A header of the simulated scanner that includes driver code: the layer check must refuse it.
#pragma once

#include "usbio.h"
