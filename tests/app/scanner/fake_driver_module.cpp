// The code of a fake driver bundle: its SE_main hands every call, with the module's own path, to
// the fake driver that lives in the test program (which exports lf_fake_driver_dispatch). So one
// script in the test drives every bundle, and the trace shows which bundle was called.
#include "se_boundary.h"

#include <dlfcn.h>

extern "C" int16_t lf_fake_driver_dispatch(const char* module, int16_t op, ECDB* block);

extern "C" __attribute__((visibility("default"))) int16_t SE_main(int16_t op, ECDB* block)
{
    Dl_info self{};
    dladdr(reinterpret_cast<void*>(&SE_main), &self);
    return lf_fake_driver_dispatch(self.dli_fname, op, block);
}
