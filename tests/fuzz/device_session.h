// What the driver does with a scanner's records, from the opening of the device to the end of a
// small scan, run on whatever transport is installed (replay_usb.h): the open sequence through the
// driver object, the driver object's answers to the host, every value derived from the records,
// the stored data reads, the parameter conversion, the magnification set-up and the scan data
// flow. Broken promises abort (fuzz_check.h).
#pragma once

namespace fuzz {

// Makes the driver's waits instant and its clock advance by itself, so that no wait is real.
void make_driver_time_instant();
// Gives the driver the scratch folder as its module folder, so that opening a device neither
// looks up the driver's own file nor finds a configuration file.
void use_scratch_module_folder();

void run_device_session();

} // namespace fuzz
