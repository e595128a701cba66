// The driver's two folders. The module folder is the bundle's contents folder (".../Contents/"):
// the configuration file is read only from there. The writable folder receives the log, the dumps
// and the calibration file: the module folder when it exists and can be written, else
// $XDG_DATA_HOME/Varnoth/ (default ~/.local/share/Varnoth/), created on demand. Both end in '/'.
#pragma once

#include <optional>
#include <string>

// The parent of the folder holding the plug-in's shared object, found from the address of one of
// the driver's own functions; empty when it cannot be found.
std::string driver_module_folder();

// Test seam: a folder to answer instead of the lookup (nullopt restores the lookup). Returns the
// previous replacement.
std::optional<std::string> driver_set_module_folder(std::optional<std::string> folder);

// The writable folder for a module folder, created when needed; empty when there is none (no
// usable module folder and no home or data folder that can be made).
std::string driver_writable_folder(const std::string& module_folder);
