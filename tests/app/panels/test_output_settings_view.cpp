// The output settings panel: its rows and their rules, the sample banner and its existence check,
// the prefix-type reaction, the folder choice, the number field, persistence through the panel, and
// the busy rule. Today is 2024-03-05 throughout.
#include "app_settings.h"
#include "elided_label.h"
#include "folder_chooser.h"
#include "group_box.h"
#include "gui_test.h"
#include "output_settings.h"
#include "output_settings_view.h"
#include "panel_test.h"
#include "scan_manager.h"
#include "segmented_control.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <limits>
#include <tuple>

using namespace lumenfield;

namespace {

class FakeChooser : public FolderChooser {
public:
    std::optional<QString> chooseFolder(QWidget*, const QString& current) override
    {
        calls++;
        startedAt = current;
        return answer;
    }
    std::optional<QString> answer;
    int calls = 0;
    QString startedAt;
};

auto valuesOf(const OutputSettings& s)
{
    return std::make_tuple(s.directoryPath(), s.prefixType(), s.prefix(), s.isAutoSuffix(), s.suffixNumber(),
                           s.suffixLength(), s.format(), s.tiffCompression(), s.jpegQuality(), s.isEmbeddedICCProfile(),
                           s.iccProfile());
}

bool touch(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

struct Panel {
    explicit Panel(FolderChooser& folders) : view(settings, appSettings, manager, folders)
    {
        view.setTodayProvider([] { return QDate(2024, 3, 5); });
    }

    OutputSettings settings;
    AppSettings appSettings;
    ScanManager manager;
    OutputSettingsView view;

    template <typename T = QWidget> T* control(const char* name) const
    {
        return view.findChild<T*>(QString::fromLatin1(name));
    }
    QString sampleName() const { return control<ElidedLabel>("sampleNameLabel")->fullText(); }
    QString samplePath() const { return control<ElidedLabel>("samplePathLabel")->fullText(); }
    // Whether the banner warns; its border and its symbol agree.
    bool warns() const
    {
        const bool symbol = control("sampleWarningIcon")->isVisibleTo(&view);
        const QColor border = symbol ? QColor(0xFF, 0xCC, 0x00) : QColor(Qt::white);
        return view.banner()->borderColor() == border ? symbol : !symbol;
    }
    void click(const char* segmented, int index)
    {
        QTest::mouseClick(control<SegmentedControl>(segmented)->button(index), Qt::LeftButton);
        settle();
    }
    void useTextPrefix(const QString& text)
    {
        settings.setPrefixType(PrefixType::text);
        settle();
        settings.setPrefix(text);
    }
};

} // namespace

class OutputSettingsViewTest : public QObject {
    Q_OBJECT

private:
    FakeChooser chooser;
    std::unique_ptr<Panel> p;
    FreshStores stores;

private Q_SLOTS:
    void init()
    {
        chooser = FakeChooser();
        p = std::make_unique<Panel>(chooser);
        showForSnapshot(&p->view);
        p->view.loadOutputSettings(*stores.make()); // the first run
        settle();
    }
    void cleanup() { p.reset(); }

    void rowsAndSample()
    {
        p->settings.setFormat(OutputFormat::png);
        QVERIFY(!visibleCaptions(&p->view).contains("Compression:") && !visibleCaptions(&p->view).contains("Quality:"));
        p->click("formatSegmented", 2);
        QStringList captions = visibleCaptions(&p->view);
        QVERIFY(captions.indexOf("Compression:") == captions.indexOf("Format:") + 1 && !captions.contains("Quality:"));
        p->click("formatSegmented", 0);
        captions = visibleCaptions(&p->view);
        QVERIFY(captions.indexOf("Quality:") == captions.indexOf("Format:") + 1 && !captions.contains("Compression:"));
        auto* quality = p->control<QComboBox>("qualityCombo");
        QStringList items;
        for (int i = 0; i < quality->count(); i++)
            items << (quality->itemData(i, Qt::AccessibleDescriptionRole) == "separator"
                          ? QStringLiteral("--")
                          : quality->itemText(i) + '=' + quality->itemData(i).toString());
        QCOMPARE(items, (QStringList{"Highest=100", "--", "High=75", "Medium=50", "Low=25", "--", "Lowest=5"}));
        QCOMPARE(quality->currentText(), QStringLiteral("High"));

        p->useTextPrefix(QStringLiteral("Scan"));
        QTest::mouseClick(p->control("suffixCheck"), Qt::LeftButton);
        QVERIFY(!p->settings.isAutoSuffix());
        QVERIFY(!p->control("suffixNumberEdit")->isEnabled() && !p->control("suffixLengthSegmented")->isEnabled());
        QCOMPARE(p->sampleName(), QStringLiteral("Scan.jpeg"));
        p->settings.setAutoSuffix(true);
        QVERIFY(p->control("suffixNumberEdit")->isEnabled() && p->control("suffixLengthSegmented")->isEnabled());
        p->click("suffixLengthSegmented", 3);
        QCOMPARE(p->sampleName(), QStringLiteral("Scan-00001.jpeg"));
        p->settings.setSuffixLength(2);
        p->settings.setSuffixNumber(100);
        QCOMPARE(p->sampleName(), QStringLiteral("Scan-100.jpeg"));
        QCOMPARE(p->control<QLineEdit>("suffixNumberEdit")->text(), QStringLiteral("100"));

        // A stored length beyond the offered ones is not taken: the length in force stays selected.
        p->view.loadOutputSettings(*stores.make("suffixLength=12\nsuffixNumber=7\n"));
        QCOMPARE(p->sampleName(), QStringLiteral("Scan-07.jpeg"));
        QCOMPARE(p->control<SegmentedControl>("suffixLengthSegmented")->currentTag(), std::optional<qint64>(2));
        // One set directly still names at most ten digits, and selects no segment.
        p->settings.setSuffixLength(12);
        QCOMPARE(p->sampleName(), QStringLiteral("Scan-0000000007.jpeg"));
        QCOMPARE(p->control<SegmentedControl>("suffixLengthSegmented")->currentTag(), std::nullopt);
    }

    void prefixTypeReaction()
    {
        auto* edit = p->control<QLineEdit>("prefixEdit");
        QVERIFY(!edit->isEnabled());
        QCOMPARE(edit->text(), QStringLiteral("20240305"));
        p->click("prefixTypeSegmented", 1);
        QCOMPARE(p->settings.prefix(), QStringLiteral("Scan"));
        QVERIFY(edit->isEnabled());
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("Film"));
        QCOMPARE(p->settings.prefix(), QStringLiteral("Film"));
        p->click("prefixTypeSegmented", 0);
        QCOMPARE(p->settings.prefix(), QStringLiteral("20240305"));
        p->click("prefixTypeSegmented", 1);
        QCOMPARE(edit->text(), QStringLiteral("Film"));
        edit->setCursorPosition(2); // the text follows the model, the cursor stays
        p->settings.setPrefix(QStringLiteral("Films"));
        QVERIFY(edit->text() == "Films" && edit->cursorPosition() == 2);

        // A load of a stored text prefix while the date is in memory runs no reaction.
        p->click("prefixTypeSegmented", 0);
        p->view.loadOutputSettings(*stores.make("prefixType=1\nprefix=Film\n"));
        settle();
        QVERIFY(p->settings.prefixType() == PrefixType::text && edit->text() == "Film");

        // A reset while Text is chosen: the reaction keeps today's date as the text prefix.
        p->settings.setDirectoryPath(QStringLiteral("/elsewhere"));
        p->settings.setIccProfile(ICCProfile::sRGB);
        QTest::mouseClick(p->control<QToolButton>("resetButton"), Qt::LeftButton);
        settle();
        OutputSettings defaults;
        defaults.setPrefix(QStringLiteral("20240305"));
        QVERIFY(valuesOf(p->settings) == valuesOf(defaults));
        p->click("prefixTypeSegmented", 1);
        QCOMPARE(p->settings.prefix(), QStringLiteral("20240305"));
    }

    void bannerWarnsAboutTheFileAScanWouldWrite()
    {
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkdir("out"));
        const QString folder = root.filePath("out");
        p->settings.setDirectoryPath(folder);
        p->useTextPrefix(QStringLiteral("Scan"));
        p->settings.setSuffixNumber(12);
        QCOMPARE(p->sampleName(), QStringLiteral("Scan-012.tiff"));
        QVERIFY(!p->warns());

        // The written name is lower-cased: that file counts, the sample's own spelling does not.
        QVERIFY(touch(folder + "/scan-012.tiff"));
        p->settings.setIccProfile(ICCProfile::adobeRGB);
        QVERIFY(p->warns());
        QCOMPARE(p->control("sampleWarningIcon")->toolTip(),
                 QStringLiteral("The file already exists, you will be asked whether to overwrite after scanning is "
                                "completed"));
        QVERIFY(QFile::remove(folder + "/scan-012.tiff"));
        QVERIFY(touch(folder + "/Scan-012.tiff"));
        p->settings.setEmbeddedICCProfile(false);
        QVERIFY(!p->warns());
        QVERIFY(!p->control("iccProfileCombo")->isEnabled());

        // A prefix cannot lead out of the folder.
        QVERIFY(touch(root.filePath("x-012.tiff")));
        p->settings.setPrefix(QStringLiteral("../x"));
        QCOMPARE(p->samplePath(), folder + "/.._x-012.tiff");
        QVERIFY(!p->warns());
        QVERIFY(touch(folder + "/.._x-012.tiff"));
        p->view.hide();
        p->view.show(); // showing the panel looks again
        QVERIFY(p->warns());
    }

    void busyDisablesEveryControl()
    {
        p->useTextPrefix(QStringLiteral("Scan"));
        for (qint64 status : {1, 2, 3, 4, 0, 5, 7}) {
            p->manager.setScanStatus(status);
            for (const char* name : {"directoryButton", "prefixTypeSegmented", "prefixEdit", "suffixCheck",
                                     "suffixNumberEdit", "suffixLengthSegmented", "formatSegmented",
                                     "compressionSegmented", "embedProfileCheck", "iccProfileCombo", "resetButton"})
                QVERIFY2(p->control(name)->isEnabled() == !(status >= 1 && status <= 4), name);
        }
    }

    void folderChoice()
    {
        auto* button = p->control<QPushButton>("directoryButton");
        const QString before = p->settings.directoryPath();
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(chooser.calls == 1 && p->settings.directoryPath() == before);
        QCOMPARE(chooser.startedAt, before);

        chooser.answer = QStringLiteral("/media/Film Scans/2024");
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(p->settings.directoryPath(), *chooser.answer);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(chooser.startedAt, *chooser.answer);
        QVERIFY(button->text() == *chooser.answer && button->toolTip() == *chooser.answer);
        QVERIFY(!QFileInfo::exists(*chooser.answer)); // neither checked nor created

        p->useTextPrefix(QStringLiteral("Scan"));
        chooser.answer = QString();
        p->view.chooseDirectory();
        QCOMPARE(p->samplePath(), QStringLiteral("/Scan-001.tiff"));

        // The production chooser: a folder dialog that opens in the folder in use, or as near to it
        // as exists; rejected.
        QTemporaryDir folders;
        QVERIFY(QDir(folders.path()).mkpath(QStringLiteral("Film Scans/2024")));
        const QString existing = folders.filePath(QStringLiteral("Film Scans/2024"));
        DialogFolderChooser dialogs;
        OutputSettingsView other(p->settings, p->appSettings, p->manager, dialogs);
        QString openedAt;
        bool foldersOnly = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                foldersOnly =
                    dialog->fileMode() == QFileDialog::Directory && dialog->testOption(QFileDialog::ShowDirsOnly);
                openedAt = dialog->directory().absolutePath();
                dialog->reject();
            }
        });
        poll.start(20);
        const std::pair<QString, QString> starts[] = {{existing, existing},
                                                      {existing + "/March/Roll 3", existing},
                                                      {folders.filePath(QStringLiteral("Gone")), folders.path()},
                                                      {QString(), QDir::homePath()},
                                                      {QStringLiteral("relative/folder"), QDir::homePath()}};
        for (const auto& [current, expected] : starts) {
            p->settings.setDirectoryPath(current);
            openedAt.clear();
            other.chooseDirectory();
            QVERIFY(foldersOnly);
            QCOMPARE(openedAt, QDir(expected).absolutePath());
            QCOMPARE(p->settings.directoryPath(), current);
        }
    }

    void numberField()
    {
        auto* edit = p->control<QLineEdit>("suffixNumberEdit");
        const auto enter = [&](const QString& text) {
            edit->selectAll();
            edit->insert(text);
            QTest::keyClick(edit, Qt::Key_Return);
        };
        enter(QStringLiteral("42"));
        QCOMPARE(p->settings.suffixNumber(), 42);
        for (const char* refused : {"4x", "99999999999999999999", "", " 7", "+7", "٣"}) {
            enter(QString::fromUtf8(refused));
            QVERIFY2(p->settings.suffixNumber() == 42 && edit->text() == "42", refused);
        }
        enter(QStringLiteral("-9223372036854775808"));
        QCOMPARE(p->settings.suffixNumber(), std::numeric_limits<qint64>::min());
    }

    void persistenceThroughThePanel()
    {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + "/Lumenfield";
        QVERIFY(folder.startsWith(QDir::homePath()) && QFileInfo(folder).isDir());
        QVERIFY(p->settings.directoryPath() == folder && p->settings.suffixNumber() == 1);
        QCOMPARE(p->sampleName(), QStringLiteral("20240305-001.tiff"));

        // A date prefix saved yesterday with number 17: the option as it stands at the load decides.
        const QByteArray yesterday = "prefixType=0\nprefix=20240304\nsuffixNumber=17\n";
        p->view.loadOutputSettings(*stores.make(yesterday));
        QVERIFY(p->settings.suffixNumber() == 1 && p->settings.prefix() == "20240305");
        p->appSettings.setResetSuffixForNewDay(false);
        p->view.loadOutputSettings(*stores.make(yesterday));
        QCOMPARE(p->settings.suffixNumber(), 17);

        // Every value survives a save and a load in a new panel, a text prefix included.
        p->settings.setDirectoryPath(QStringLiteral("/srv/scans"));
        p->useTextPrefix(QStringLiteral("Film"));
        p->settings.setAutoSuffix(false);
        p->settings.setSuffixNumber(42);
        p->settings.setSuffixLength(5);
        p->settings.setFormat(OutputFormat::png);
        p->settings.setTiffCompression(TIFFCompression::lzw);
        p->settings.setJpegQuality(JPEGQuality::low);
        p->settings.setEmbeddedICCProfile(false);
        p->settings.setIccProfile(ICCProfile::adobeRGB);
        auto saved = stores.make();
        p->view.saveOutputSettings(*saved);
        auto copy = stores.copyOf(*saved);
        QStringList keys = copy->allKeys();
        keys.sort();
        QCOMPARE(keys,
                 (QStringList{"directoryPath", "format", "iccProfile", "isAutoSuffix", "isEmbedded", "jpegQuality",
                              "prefix", "prefixType", "suffixLength", "suffixNumber", "tiffCompression"}));
        FakeChooser otherChooser;
        Panel other(otherChooser);
        other.view.loadOutputSettings(*copy);
        settle();
        QVERIFY(valuesOf(other.settings) == valuesOf(p->settings));
        QCOMPARE(other.control<QLineEdit>("prefixEdit")->text(), QStringLiteral("Film"));
    }

    // At the top of a far taller column the panel is as tall as its rows, whichever format's rows
    // are shown.
    void keepsItsNaturalHeightInATallColumn()
    {
        TallColumn column(&p->view);
        for (OutputFormat format : {OutputFormat::png, OutputFormat::tiff, OutputFormat::jpeg, OutputFormat::png}) {
            p->settings.setFormat(format);
            settleLayouts();
            const QString mismatch = heightMismatch(&p->view, p->view.groupBox()->content());
            QVERIFY2(mismatch.isEmpty(), qPrintable(displayName(format) + ": " + mismatch));
        }
    }

    void snapshots()
    {
        QVERIFY(!saveSnapshot(&p->view, QStringLiteral("output-panel")).isEmpty());
        QTemporaryDir folder;
        QVERIFY(touch(folder.filePath("20240305-001.jpeg")));
        p->settings.setDirectoryPath(folder.path());
        p->settings.setFormat(OutputFormat::jpeg);
        QVERIFY(p->warns());
        QVERIFY(!saveSnapshot(&p->view, QStringLiteral("output-panel-jpeg-exists")).isEmpty());
        p->manager.setScanStatus(rawValue(VekScanStatus::reading));
        QVERIFY(!saveSnapshot(&p->view, QStringLiteral("output-panel-busy")).isEmpty());
    }
};

LF_GUI_TEST_MAIN(OutputSettingsViewTest)
#include "test_output_settings_view.moc"
