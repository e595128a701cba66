// libvips starts once for the suite, with its operation cache off as in the program. The suite runs
// in a home of its own, so that the output settings it makes create no folder in the user's
// Pictures.
#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <vips/vips8>

int main(int argc, char** argv) {
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + "/.cache").toUtf8());
    QCoreApplication app(argc, argv);

    if (VIPS_INIT(argv[0]) != 0) return 1;
    vips_cache_set_max(0);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    vips_shutdown();
    return result;
}
