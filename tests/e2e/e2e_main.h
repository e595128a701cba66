// main() of the end-to-end programs: GoogleTest inside a QApplication on the simulated scanner.
#pragma once

#include "gui_test.h"
#include "preload.h"

#include <QApplication>
#include <QString>

#include <gtest/gtest.h>
#include <vips/vips8>

// Runs every test; the program's exit status. `snapshotFolder` is where snapshots go;
// `afterPreload`, when given, runs in the process that runs the tests (after the re-execution).
inline int runEndToEndTests(int argc, char** argv, const QString& snapshotFolder, void (*afterPreload)() = nullptr)
{
    // The virtual USB device reaches only a process that starts with its preload.
    sim::reexec_with_preload(argc, argv);
    if (afterPreload != nullptr) afterPreload();
    GuiTestSetUp setUp(snapshotFolder);
    if (!setUp.valid()) return 1;
    QApplication application(argc, argv);
    if (VIPS_INIT(argv[0]) != 0) return 1;
    vips_cache_set_max(0);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    vips_shutdown();
    return result;
}
