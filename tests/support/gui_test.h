// The set-up of the widget test programs (QTest, each with its own main()), and the snapshot
// helper that saves widgets as PNG files for review.
//
// Before the QApplication exists, the program gets a fresh temporary home (HOME and the XDG
// folders point into it, so no test reaches the real user's settings) and the offscreen platform
// unless one is set; afterwards the application's names, the Fusion style with its standard
// palette and DejaVu Sans at 12 px, so that widgets look the same on every machine.
#pragma once

#include <QApplication>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

class QComboBox;
class QWidget;

class GuiTestSetUp {
public:
    // `snapshotFolder` is where snapshots go unless LUMENFIELD_SNAPSHOT_DIR names another folder.
    explicit GuiTestSetUp(const QString& snapshotFolder);
    bool valid() const { return home_.isValid(); }
    void configure(QApplication& app);

private:
    QTemporaryDir home_;
};

// Lays `widget` out `width` px wide at the height it asks for and shows it.
void showForSnapshot(QWidget* widget, int width = 400);
// Saves what `widget` shows as "<name>.png" in the snapshot folder; answers the file's path, or an
// empty text (with a warning) when it could not be written.
QString saveSnapshot(QWidget* widget, const QString& name);

// Picks the item `text` from the open list of `combo` with the keyboard, as a user does; false when
// the list has no such item.
bool chooseComboItem(QComboBox* combo, const QString& text);

// Runs the application's event loop with `first` as its first event, as a program's main() does;
// answers the exit status, or -1 when the loop has not ended within `limitMs`.
int runEventLoopUntilQuit(const std::function<void()>& first, int limitMs);

// main() of a widget test program. LF_SNAPSHOT_DIR is set by lf_add_qtest. `first` runs before
// anything else (a program on the simulated scanner re-executes itself with its preload there).
#define LF_GUI_TEST_MAIN(TestClass) LF_GUI_TEST_MAIN_AFTER(TestClass, (void)0)
#define LF_GUI_TEST_MAIN_AFTER(TestClass, first)                                                                       \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        first;                                                                                                         \
        GuiTestSetUp setUp(QStringLiteral(LF_SNAPSHOT_DIR));                                                           \
        if (!setUp.valid()) return 1;                                                                                  \
        QApplication app(argc, argv);                                                                                  \
        setUp.configure(app);                                                                                          \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
