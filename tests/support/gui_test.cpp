#include "gui_test.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QLayout>
#include <QPixmap>
#include <QStyle>
#include <QTimer>
#include <QWidget>

namespace {

QString& defaultSnapshotFolder()
{
    static QString folder;
    return folder;
}

} // namespace

GuiTestSetUp::GuiTestSetUp(const QString& snapshotFolder)
{
    defaultSnapshotFolder() = snapshotFolder;
    if (!home_.isValid()) return;
    qputenv("HOME", home_.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home_.path() + "/.config").toUtf8());
    qputenv("XDG_DATA_HOME", (home_.path() + "/.local/share").toUtf8());
    qputenv("XDG_CACHE_HOME", (home_.path() + "/.cache").toUtf8());
    // Private to the user, as the platform expects of it.
    if (QDir(home_.path()).mkdir(QStringLiteral("runtime")))
        QFile::setPermissions(home_.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", home_.filePath(QStringLiteral("runtime")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

void GuiTestSetUp::configure(QApplication& app)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Lumenfield"));
    QCoreApplication::setApplicationName(QStringLiteral("Lumenfield"));
    // Set once the application exists, which then owns the style and deletes it when another
    // replaces it (the application object sets its own).
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(app.style()->standardPalette());
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    QApplication::setFont(font);
}

namespace {

// Lets pending layout requests run, so that what is grabbed is what a user would see.
void settleLayout(QWidget* widget)
{
    QCoreApplication::sendPostedEvents();
    if (QLayout* layout = widget->layout()) layout->activate();
    QCoreApplication::processEvents();
}

} // namespace

bool chooseComboItem(QComboBox* combo, const QString& text)
{
    const int index = combo->findText(text);
    if (index < 0) return false;
    combo->showPopup();
    QAbstractItemView* list = combo->view();
    list->setCurrentIndex(list->model()->index(index, 0));
    QTest::keyClick(list, Qt::Key_Return);
    return true;
}

void showForSnapshot(QWidget* widget, int width)
{
    widget->show();
    settleLayout(widget);
    widget->resize(width, widget->hasHeightForWidth() ? widget->heightForWidth(width) : widget->sizeHint().height());
    settleLayout(widget);
}

QString saveSnapshot(QWidget* widget, const QString& name)
{
    QString folder = qEnvironmentVariable("LUMENFIELD_SNAPSHOT_DIR");
    if (folder.isEmpty()) folder = defaultSnapshotFolder();
    const QString path = folder + '/' + name + QStringLiteral(".png");
    settleLayout(widget);
    if (!QDir().mkpath(folder) || !widget->grab().save(path, "PNG")) {
        qWarning("Could not write the snapshot %s", qPrintable(path));
        return QString();
    }
    return path;
}

int runEventLoopUntilQuit(const std::function<void()>& first, int limitMs)
{
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    limit.start(limitMs);
    QTimer::singleShot(0, &limit, first);
    return QCoreApplication::exec();
}
