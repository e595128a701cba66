// Lumenfield: the scanning application.
#include "lumenfield_app.h"

#include <QApplication>

#include <vips/vips.h>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (VIPS_INIT(argv[0]) != 0) {
        std::fprintf(stderr, "Lumenfield: cannot start libvips\n");
        return 1;
    }
    // Every image is processed once: nothing is gained by keeping operations, and memory is.
    vips_cache_set_max(0);
    int status = 0;
    {
        LumenfieldApp app;
        app.start();
        status = QApplication::exec();
    }
    vips_shutdown();
    return status;
}
