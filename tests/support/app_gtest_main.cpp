// main() for the application's suites: the suite runs in a home of its own, so nothing it does
// reaches the real user's settings, data or Pictures folder; the program has the application's
// names (which place its data folder) and libvips started once. Built with LF_SIM_PRELOAD, the
// program first re-executes itself with the virtual USB device's preload, for suites that run the
// driver on the simulated scanner.
#ifdef LF_SIM_PRELOAD
#include "preload.h"
#endif

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <vips/vips8>

int main(int argc, char** argv)
{
#ifdef LF_SIM_PRELOAD
    sim::reexec_with_preload(argc, argv);
#endif
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + "/.cache").toUtf8());

    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Lumenfield"));
    QCoreApplication::setApplicationName(QStringLiteral("Lumenfield"));
    if (VIPS_INIT(argv[0]) != 0) return 1;
    vips_cache_set_max(0); // as in the program: a file written again is read again, not recalled

    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    vips_shutdown();
    return result;
}
