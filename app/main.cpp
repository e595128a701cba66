// Lumenfield: the scanning application.
#include "imaging_start.h"
#include "lumenfield_app.h"

#include <QApplication>

#include <vips/vips.h>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (!startImaging(argv[0])) {
        std::fprintf(stderr, "Lumenfield: cannot start libvips\n");
        return 1;
    }
    int status = 0;
    {
        LumenfieldApp app;
        app.start();
        status = QApplication::exec();
    }
    vips_shutdown();
    return status;
}
