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
#include "scan_manager.h"
#include "segmented_control.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <memory>
#include <tuple>

namespace {

const QDate today(2024, 3, 5);

class FakeChooser : public FolderChooser {
public:
    std::optional<QString> chooseFolder(QWidget*) override
    {
        calls++;
        return answer;
    }
    std::optional<QString> answer;
    int calls = 0;
};

auto valuesOf(const OutputSettings& s)
{
    return std::make_tuple(s.directoryPath(), s.prefixType(), s.prefix(), s.isAutoSuffix(), s.suffixNumber(),
                           s.suffixLength(), s.format(), s.tiffCompression(), s.jpegQuality(),
                           s.isEmbeddedICCProfile(), s.iccProfile());
}

void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

bool touch(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

} // namespace

class OutputSettingsViewTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<OutputSettings> settings;
    std::unique_ptr<AppSettings> appSettings;
    std::unique_ptr<ScanManager> manager;
    FakeChooser chooser;
    std::unique_ptr<OutputSettingsView> view;
    QTemporaryDir stores;
    int storeCount = 0;

    // A store in a file no QSettings has opened before (they cache a file's contents per path).
    std::unique_ptr<QSettings> freshStore(const QByteArray& contents = {})
    {
        const QString path = stores.filePath(QStringLiteral("output%1.ini").arg(++storeCount));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write("[General]\n" + contents) < 0) return nullptr;
        file.close();
        return std::make_unique<QSettings>(path, QSettings::IniFormat);
    }
    // What `saved` wrote, read back by a store that has never seen it.
    std::unique_ptr<QSettings> byteCopy(QSettings& saved)
    {
        saved.sync();
        QFile file(saved.fileName());
        if (!file.open(QIODevice::ReadOnly)) return nullptr;
        return freshStore(file.readAll().replace("[General]\n", ""));
    }
    std::unique_ptr<OutputSettingsView> makeView(OutputSettings& output, FolderChooser& folders)
    {
        auto made = std::make_unique<OutputSettingsView>(output, *appSettings, *manager, folders);
        made->setTodayProvider([] { return today; });
        return made;
    }
    template <typename T = QWidget>
    T* control(const char* name) const
    {
        return view->findChild<T*>(QString::fromLatin1(name));
    }
    SegmentedControl* segmented(const char* name) const { return control<SegmentedControl>(name); }
    QString sampleName() const { return control<ElidedLabel>("sampleNameLabel")->fullText(); }
    QString samplePath() const { return control<ElidedLabel>("samplePathLabel")->fullText(); }
    bool warns() const
    {
        const bool icon = control("sampleWarningIcon")->isVisibleTo(view.get());
        [&] { QCOMPARE(view->banner()->fileExists(), icon); }();
        return icon;
    }
    QStringList visibleCaptions() const
    {
        QStringList texts;
        for (const QLabel* caption : view->findChildren<QLabel*>(QStringLiteral("caption")))
            if (caption->isVisibleTo(view.get())) texts << caption->text();
        return texts;
    }
    void click(const char* segmentedName, int index)
    {
        QTest::mouseClick(segmented(segmentedName)->button(index), Qt::LeftButton);
        settle();
    }
    void useTextPrefix(const QString& text)
    {
        settings->setPrefixType(PrefixType::text);
        settle();
        settings->setPrefix(text);
    }

private Q_SLOTS:
    void init()
    {
        settings = std::make_unique<OutputSettings>();
        appSettings = std::make_unique<AppSettings>();
        manager = std::make_unique<ScanManager>();
        chooser = FakeChooser();
        view = makeView(*settings, chooser);
        showForSnapshot(view.get());
        // First run: an empty store.
        view->loadOutputSettings(*freshStore());
        settle();
    }
    void cleanup()
    {
        view.reset();
        manager.reset();
        appSettings.reset();
        settings.reset();
    }

    void firstRunGivesTheDefaults()
    {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + "/Lumenfield";
        QVERIFY(folder.startsWith(QDir::homePath()));
        QCOMPARE(settings->directoryPath(), folder);
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(settings->prefix(), QStringLiteral("20240305"));
        QCOMPARE(settings->suffixNumber(), 1);
        QCOMPARE(sampleName(), QStringLiteral("20240305-001.tiff"));
        QCOMPARE(samplePath(), folder + "/20240305-001.tiff");
        QCOMPARE(control<QPushButton>("directoryButton")->toolTip(), folder);
        QCOMPARE(control<QLineEdit>("prefixEdit")->placeholderText(), QStringLiteral("Prffiex:"));
        QCOMPARE(segmented("compressionSegmented")->currentTag(), std::optional<qint64>(7));
    }

    void formatRows()
    {
        settings->setFormat(OutputFormat::png);
        QVERIFY(!visibleCaptions().contains("Compression:") && !visibleCaptions().contains("Quality:"));
        click("formatSegmented", 2);
        QCOMPARE(settings->format(), OutputFormat::tiff);
        const QStringList tiff = visibleCaptions();
        QCOMPARE(tiff.indexOf("Compression:"), tiff.indexOf("Format:") + 1);
        QVERIFY(!tiff.contains("Quality:"));
        click("formatSegmented", 0);
        const QStringList jpeg = visibleCaptions();
        QCOMPARE(jpeg.indexOf("Quality:"), jpeg.indexOf("Format:") + 1);
        QVERIFY(!jpeg.contains("Compression:"));

        auto* quality = control<QComboBox>("qualityCombo");
        QStringList items;
        for (int i = 0; i < quality->count(); i++)
            items << (quality->itemData(i, Qt::AccessibleDescriptionRole).toString() == "separator"
                          ? QStringLiteral("--")
                          : quality->itemText(i) + '=' + quality->itemData(i).toString());
        QCOMPARE(items, (QStringList{"Highest=100", "--", "High=75", "Medium=50", "Low=25", "--", "Lowest=5"}));
        QCOMPARE(quality->currentText(), QStringLiteral("High"));
    }

    void suffixRowsAndSample()
    {
        useTextPrefix(QStringLiteral("Scan"));
        settings->setFormat(OutputFormat::jpeg);
        QTest::mouseClick(control<QCheckBox>("suffixCheck"), Qt::LeftButton);
        QVERIFY(!settings->isAutoSuffix());
        QVERIFY(!control("suffixNumberEdit")->isEnabled() && !control("suffixLengthSegmented")->isEnabled());
        QCOMPARE(sampleName(), QStringLiteral("Scan.jpeg"));

        settings->setAutoSuffix(true);
        QVERIFY(control("suffixNumberEdit")->isEnabled() && control("suffixLengthSegmented")->isEnabled());
        click("suffixLengthSegmented", 3);
        QCOMPARE(settings->suffixLength(), 5);
        QCOMPARE(sampleName(), QStringLiteral("Scan-00001.jpeg"));
        settings->setSuffixLength(2);
        settings->setSuffixNumber(100);
        QCOMPARE(sampleName(), QStringLiteral("Scan-100.jpeg"));
        QCOMPARE(control<QLineEdit>("suffixNumberEdit")->text(), QStringLiteral("100"));

        // A stored length beyond the offered ones: ten digits at most, and no segment selected.
        auto store = freshStore("suffixLength=12\nsuffixNumber=7\n");
        view->loadOutputSettings(*store);
        QCOMPARE(settings->suffixLength(), 12);
        QCOMPARE(sampleName(), QStringLiteral("Scan-0000000007.jpeg"));
        QCOMPARE(segmented("suffixLengthSegmented")->currentTag(), std::nullopt);
    }

    void prefixTypeReaction()
    {
        auto* edit = control<QLineEdit>("prefixEdit");
        QVERIFY(!edit->isEnabled());
        QCOMPARE(edit->text(), QStringLiteral("20240305"));
        click("prefixTypeSegmented", 1);
        QCOMPARE(settings->prefix(), QStringLiteral("Scan"));
        QVERIFY(edit->isEnabled());
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("Film"));
        QCOMPARE(settings->prefix(), QStringLiteral("Film"));
        click("prefixTypeSegmented", 0);
        QCOMPARE(settings->prefix(), QStringLiteral("20240305"));
        QCOMPARE(view->prefixText(), QStringLiteral("Film"));
        click("prefixTypeSegmented", 1);
        QCOMPARE(edit->text(), QStringLiteral("Film"));

        // The text follows the model without moving the cursor.
        edit->setCursorPosition(2);
        settings->setPrefix(QStringLiteral("Films"));
        QCOMPARE(edit->text(), QStringLiteral("Films"));
        QCOMPARE(edit->cursorPosition(), 2);

        // A load of a stored text prefix while the date is in memory runs no reaction.
        click("prefixTypeSegmented", 0);
        view->loadOutputSettings(*freshStore("prefixType=1\nprefix=Film\n"));
        settle();
        QCOMPARE(settings->prefixType(), PrefixType::text);
        QCOMPARE(settings->prefix(), QStringLiteral("Film"));
        QCOMPARE(edit->text(), QStringLiteral("Film"));

        // A reset while Text is chosen: the reaction then keeps today's date as the text prefix.
        settings->setDirectoryPath(QStringLiteral("/elsewhere"));
        settings->setIccProfile(ICCProfile::sRGB);
        QTest::mouseClick(control<QToolButton>("resetButton"), Qt::LeftButton);
        settle();
        OutputSettings defaults;
        defaults.setPrefix(QStringLiteral("20240305"));
        QVERIFY(valuesOf(*settings) == valuesOf(defaults));
        QCOMPARE(view->prefixText(), QStringLiteral("20240305"));
        click("prefixTypeSegmented", 1);
        QCOMPARE(settings->prefix(), QStringLiteral("20240305"));
    }

    void bannerWarnsAboutTheFileAScanWouldWrite()
    {
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkdir("out"));
        const QString folder = root.filePath("out");
        settings->setDirectoryPath(folder);
        useTextPrefix(QStringLiteral("Scan"));
        settings->setSuffixNumber(12);
        QCOMPARE(sampleName(), QStringLiteral("Scan-012.tiff"));
        QVERIFY(!warns());
        QCOMPARE(view->banner()->borderColor(), QColor(Qt::white));

        // The written name is lower-cased: that file counts, the sample's own spelling does not.
        QVERIFY(touch(folder + "/scan-012.tiff"));
        settings->setIccProfile(ICCProfile::adobeRGB);
        QVERIFY(warns());
        QCOMPARE(view->banner()->borderColor(), QColor(0xFF, 0xCC, 0x00));
        QCOMPARE(control("sampleWarningIcon")->toolTip(),
                 QStringLiteral("The file already exists, you will be asked whether to overwrite after scanning is "
                                "completed"));
        QVERIFY(QFile::remove(folder + "/scan-012.tiff"));
        settings->setEmbeddedICCProfile(false);
        QVERIFY(!warns());
        QCOMPARE(view->banner()->borderColor(), QColor(Qt::white));
        QVERIFY(!control("iccProfileCombo")->isEnabled());
        QVERIFY(touch(folder + "/Scan-012.tiff"));
        settings->setEmbeddedICCProfile(true);
        QVERIFY(!warns());

        // A prefix cannot lead out of the folder.
        QVERIFY(touch(root.filePath("x-012.tiff")));
        settings->setPrefix(QStringLiteral("../x"));
        QCOMPARE(sampleName(), QStringLiteral(".._x-012.tiff"));
        QCOMPARE(samplePath(), folder + "/.._x-012.tiff");
        QVERIFY(!warns());
        QVERIFY(touch(folder + "/.._x-012.tiff"));
        settings->setSuffixLength(3); // any change refreshes, this one changes nothing
        view->hide();
        view->show(); // so does showing the panel
        QVERIFY(warns());
    }

    void busyDisablesEveryControl()
    {
        useTextPrefix(QStringLiteral("Scan"));
        const auto enabled = [&](bool expected) {
            for (const char* name :
                 {"directoryButton", "prefixTypeSegmented", "prefixEdit", "suffixCheck", "suffixNumberEdit",
                  "suffixLengthSegmented", "formatSegmented", "compressionSegmented", "qualityCombo",
                  "embedProfileCheck", "iccProfileCombo", "resetButton"})
                QVERIFY2(control(name)->isEnabled() == expected, name);
        };
        for (qint64 status : {1, 2, 3, 4, 0, 5, 7}) {
            manager->setScanStatus(status);
            enabled(!(status >= 1 && status <= 4));
        }
    }

    void folderChoice()
    {
        const QString before = settings->directoryPath();
        QTest::mouseClick(control<QPushButton>("directoryButton"), Qt::LeftButton);
        QCOMPARE(chooser.calls, 1);
        QCOMPARE(settings->directoryPath(), before);

        chooser.answer = QStringLiteral("/media/Film Scans/2024");
        QTest::mouseClick(control<QPushButton>("directoryButton"), Qt::LeftButton);
        QCOMPARE(settings->directoryPath(), *chooser.answer);
        QCOMPARE(control<QPushButton>("directoryButton")->text(), *chooser.answer);
        QCOMPARE(control<QPushButton>("directoryButton")->toolTip(), *chooser.answer);
        QVERIFY(!QFileInfo::exists(*chooser.answer)); // neither checked nor created

        // A long path is shortened in the middle.
        chooser.answer = "/" + QString("deep/").repeated(40) + "end";
        view->chooseDirectory();
        const QString shown = control<QPushButton>("directoryButton")->text();
        QVERIFY(shown.startsWith("/deep/") && shown.endsWith("/end") && shown.contains(QChar(0x2026)));

        useTextPrefix(QStringLiteral("Scan"));
        chooser.answer = QString();
        view->chooseDirectory();
        QCOMPARE(settings->directoryPath(), QString());
        QCOMPARE(samplePath(), QStringLiteral("/Scan-001.tiff"));

        // The production chooser: a folder dialog, rejected.
        DialogFolderChooser dialogs;
        auto other = makeView(*settings, dialogs);
        bool rejected = false;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
            QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
            rejected = true;
            dialog->reject();
        });
        poll.start();
        other->chooseDirectory();
        poll.stop();
        QVERIFY(rejected);
        QCOMPARE(settings->directoryPath(), QString());
    }

    void numberField()
    {
        auto* edit = control<QLineEdit>("suffixNumberEdit");
        const auto enter = [&](const QString& text) {
            edit->selectAll();
            edit->insert(text);
            QTest::keyClick(edit, Qt::Key_Return);
        };
        enter(QStringLiteral("42"));
        QCOMPARE(settings->suffixNumber(), 42);
        for (const char* refused : {"4x", "99999999999999999999", "", " 7", "+7", "٣"}) {
            enter(QString::fromUtf8(refused));
            QCOMPARE(settings->suffixNumber(), 42);
            QCOMPARE(edit->text(), QStringLiteral("42"));
        }
        enter(QStringLiteral("-9223372036854775808"));
        QCOMPARE(settings->suffixNumber(), std::numeric_limits<qint64>::min());
        enter(QStringLiteral("007"));
        QCOMPARE(edit->text(), QStringLiteral("7"));
    }

    void persistenceThroughThePanel()
    {
        // A date prefix saved yesterday with number 17: the option as it stands at the load decides.
        const QByteArray yesterday = "prefixType=0\nprefix=20240304\nsuffixNumber=17\n";
        appSettings->setResetSuffixForNewDay(true);
        view->loadOutputSettings(*freshStore(yesterday));
        QCOMPARE(settings->suffixNumber(), 1);
        QCOMPARE(settings->prefix(), QStringLiteral("20240305"));
        appSettings->setResetSuffixForNewDay(false);
        view->loadOutputSettings(*freshStore(yesterday));
        QCOMPARE(settings->suffixNumber(), 17);

        // Every value survives a save and a load in a new panel, a text prefix included.
        settings->setDirectoryPath(QStringLiteral("/srv/scans"));
        useTextPrefix(QStringLiteral("Film"));
        settings->setAutoSuffix(false);
        settings->setSuffixNumber(42);
        settings->setSuffixLength(5);
        settings->setFormat(OutputFormat::png);
        settings->setTiffCompression(TIFFCompression::lzw);
        settings->setJpegQuality(JPEGQuality::low);
        settings->setEmbeddedICCProfile(false);
        settings->setIccProfile(ICCProfile::adobeRGB);
        auto saved = freshStore();
        view->saveOutputSettings(*saved);
        auto copy = byteCopy(*saved);
        QStringList keys = copy->allKeys();
        keys.sort();
        QCOMPARE(keys, (QStringList{"directoryPath", "format", "iccProfile", "isAutoSuffix", "isEmbedded",
                                    "jpegQuality", "prefix", "prefixType", "suffixLength", "suffixNumber",
                                    "tiffCompression"}));

        OutputSettings loaded;
        FakeChooser otherChooser;
        auto other = makeView(loaded, otherChooser);
        other->loadOutputSettings(*copy);
        settle();
        QVERIFY(valuesOf(loaded) == valuesOf(*settings));
        QCOMPARE(other->findChild<QLineEdit*>("prefixEdit")->text(), QStringLiteral("Film"));
        QCOMPARE(other->prefixText(), QStringLiteral("Scan"));
    }

    void snapshots()
    {
        showForSnapshot(view.get());
        QVERIFY(!saveSnapshot(view.get(), QStringLiteral("output-panel")).isEmpty());

        QTemporaryDir folder;
        QVERIFY(touch(folder.filePath("20240305-001.jpeg")));
        settings->setDirectoryPath(folder.path());
        settings->setFormat(OutputFormat::jpeg);
        showForSnapshot(view.get());
        QVERIFY(warns());
        QVERIFY(!saveSnapshot(view.get(), QStringLiteral("output-panel-jpeg-exists")).isEmpty());

        manager->setScanStatus(rawValue(VekScanStatus::reading));
        QVERIFY(!saveSnapshot(view.get(), QStringLiteral("output-panel-busy")).isEmpty());
    }
};

LF_GUI_TEST_MAIN(OutputSettingsViewTest)
#include "test_output_settings_view.moc"
