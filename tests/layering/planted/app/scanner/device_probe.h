// An application header that includes the driver's USB layer: the layer check must refuse it.
#pragma once

#include "usbio.h"
