// Lumenfield: the scanning application.
#include "console_lines.h"
#include "imaging_start.h"
#include "lumenfield_app.h"

#include <QApplication>

#include <vips/vips.h>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (!lumenfield::startImaging(argv[0])) {
        lumenfield::printErrorLine("Lumenfield: cannot start libvips");
        return 1;
    }
    int status = 0;
    {
        lumenfield::LumenfieldApp app;
        app.start();
        status = QApplication::exec();
    }
    vips_shutdown();
    return status;
}
