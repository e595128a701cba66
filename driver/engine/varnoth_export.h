// Marks a name the plug-in exports. The driver is built with hidden visibility, and the version
// script (driver/varnoth.exports) lists what may leave the module; a name needs both.
#pragma once

#define VARNOTH_EXPORT __attribute__((visibility("default")))
