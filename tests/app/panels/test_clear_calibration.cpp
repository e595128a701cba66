// Erasing the scanner's calibration data from the Scanner tab, on the fake driver: the question,
// the command and where it runs, the printed outcome, and the real question box.
#include "app_settings.h"
#include "app_settings_scanner_tab_view.h"
#include "clear_calibration_confirm.h"
#include "fake_driver.h"
#include "gui_test.h"
#include "scan_manager.h"
#include "stdout_capture.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <thread>

using namespace lumenfield;

namespace {

using fake::FakeDriver;
using namespace std::chrono_literals;

// Answers as scripted, after running `before` (while the question would be open).
class FakeConfirm : public ClearCalibrationConfirm {
public:
    bool answer = true;
    std::function<void()> before;
    int asked = 0;

    bool confirmClear(QWidget*) override
    {
        asked++;
        if (before) before();
        return answer;
    }
    // The outcomes told, in order.
    QStringList results;
    QList<bool> cleared;
    void showClearResult(QWidget*, bool done, const QString& text) override
    {
        cleared << done;
        results << text;
    }
};

// The erase commands: code 168, verb 3, value 0.
std::vector<fake::Call> erases()
{
    std::vector<fake::Call> out;
    for (const fake::Call& call : FakeDriver::instance().calls(SE_CMD_CALIBRATION))
        if (call.verb == SE_VERB_SET && call.value == SE_CALIBRATION_ERASE) out.push_back(call);
    return out;
}

const std::string cleared = "Calibration data cleared";
const std::string failed = "Failed to clear calibration data";

} // namespace

class ClearCalibrationTest : public QObject {
    Q_OBJECT

private:
    FakeDriver& driver = FakeDriver::instance();
    std::optional<fake::DriverFolder> folder;
    std::shared_ptr<QuorvaneScanner> scanner;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<ScanManager> manager;
    FakeConfirm confirm;
    std::unique_ptr<AppSettingsScannerTabView> tab;
    std::optional<StdoutCapture> output;

    QToolButton* clearButton() const { return tab->findChild<QToolButton*>(QStringLiteral("clearCalibrationButton")); }
    // Clicks Clear and waits until the worker has run what it queued and its answer is handled.
    void clickClear()
    {
        clearButton()->click();
        manager->waitForWorker();
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init()
    {
        driver.reset();
        folder.emplace();
        folder->add("FakeAlpha");
        scanner = std::make_shared<QuorvaneScanner>(folder->path());
        QVERIFY(scanner->loadDriver());
        settings = std::make_unique<AppSettings>();
        manager = std::make_unique<ScanManager>();
        manager->setScanner(scanner);
        manager->setScanStatus(rawValue(VekScanStatus::ready));
        confirm = FakeConfirm();
        tab = std::make_unique<AppSettingsScannerTabView>(*settings, *manager, confirm);
        driver.clearTrace();
        output.emplace();
    }
    void cleanup()
    {
        output.reset();
        tab.reset();
        manager.reset();
        scanner->unloadDriver();
        scanner.reset();
        folder.reset();
    }

    void answersAndOutcomes()
    {
        confirm.answer = false;
        clickClear();
        QVERIFY(confirm.asked == 1 && erases().empty() && output->text().empty());

        confirm.answer = true;
        clickClear();
        QCOMPARE(erases().size(), std::size_t(1));
        QCOMPARE(erases()[0].record, uint64_t(0));
        QCOMPARE(output->lines(cleared), 1);
        QCOMPARE(settings->calibrationMode(), VekCalibrationMode::smart);
        // Only the driver's 1 is success.
        for (int16_t answer : {int16_t(SE_ERR_CALIBRATION_FILE), int16_t(0)}) {
            driver.reply(SE_CMD_CALIBRATION, SE_VERB_SET, answer);
            clickClear();
        }
        QCOMPARE(erases().size(), std::size_t(3));
        QCOMPARE((std::pair{output->lines(cleared), output->lines(failed)}), (std::pair{1, 2}));
        // Each erase ends with words for the user, a refusal with the driver's code.
        QCOMPARE(confirm.cleared, (QList<bool>{true, false, false}));
        QCOMPARE(confirm.results,
                 (QStringList{QStringLiteral("The calibration data were cleared."),
                              QStringLiteral("The calibration data could not be cleared (driver code -2003)."),
                              QStringLiteral("The calibration data could not be cleared (driver code 0).")}));
    }

    void scannerGoneBeforeTheAnswer()
    {
        confirm.before = [this] { manager->setScanner(nullptr); };
        clickClear();
        QVERIFY(confirm.asked == 1 && driver.traceSize() == 0 && output->text().empty());
        QCOMPARE(confirm.results,
                 QStringList{QStringLiteral("The calibration data could not be cleared: no scanner is connected.")});
    }

    void eraseDuringAScanWaitsBehindIt()
    {
        for (qint64 status : {0, 1, 2, 3, 4, 5, 7}) {
            manager->setScanStatus(status);
            QVERIFY(clearButton()->isEnabled());
        }
        driver.scan.geometry = SEImageInfo{8, 400, 24};
        driver.scan.linesPerRead = 40;
        driver.scan.delay = 20ms;
        std::promise<std::thread::id> worker;
        std::future<std::thread::id> workerId = worker.get_future();
        std::promise<bool> scanned;
        std::future<bool> scanDone = scanned.get_future();
        manager->runOnWorker([&] {
            worker.set_value(std::this_thread::get_id());
            scanned.set_value(manager
                                  ->scan(ScanSettings().values(), ScanMode::preview, 100, VekScanQuality::quality,
                                         VekCalibrationMode::smart)
                                  .has_value());
        });
        QTRY_VERIFY(driver.entered(SE_CMD_READ_LINES) > 0);

        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ticks++; });
        timer.start(5);
        clearButton()->click(); // returns at once: the erase waits on the worker
        QVERIFY(scanDone.wait_for(0s) != std::future_status::ready);
        QTRY_VERIFY_WITH_TIMEOUT(output->lines(cleared) == 1, 20000);
        QVERIFY(ticks >= 3);
        QVERIFY(scanDone.get());

        const std::vector<std::string> trace = driver.compactTrace();
        const auto stop = std::find(trace.begin(), trace.end(), "33/3:0");
        const auto erase = std::find(trace.begin(), trace.end(), "168/3:0");
        QVERIFY(stop != trace.end() && erase != trace.end());
        QVERIFY(stop < erase);
        const std::thread::id scanThread = workerId.get();
        QVERIFY(scanThread != std::this_thread::get_id());
        QCOMPARE(driver.calls(SE_CMD_STOP_SCAN).at(0).thread, scanThread);
        QCOMPARE(erases().at(0).thread, scanThread);
    }

    void theQuestionBox()
    {
        ClearCalibrationMessageBox question;
        AppSettingsScannerTabView asking(*settings, *manager, question);
        // Read while the box is open (buttons left to right), then answered with Cancel.
        QStringList seen;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            saveSnapshot(box, QStringLiteral("clear-confirm"));
            QList<QAbstractButton*> buttons = box->buttons();
            std::sort(buttons.begin(), buttons.end(), [box](QAbstractButton* a, QAbstractButton* b) {
                return a->mapTo(box, QPoint()).x() < b->mapTo(box, QPoint()).x();
            });
            const auto textOf = [](QAbstractButton* button) { return button ? button->text() : QString(); };
            seen << box->text() << box->informativeText() << QString::number(box->icon())
                 << QString::number(box->windowModality()) << textOf(box->defaultButton())
                 << textOf(box->escapeButton());
            for (QAbstractButton* button : buttons) seen << button->text();
            box->escapeButton()->click();
        });
        asking.findChild<QToolButton*>(QStringLiteral("clearCalibrationButton"))->click();
        manager->waitForWorker();
        QCoreApplication::processEvents();
        QCOMPARE(seen,
                 (QStringList{"The action will delete the sets of calibration data, are you sure to preform it?",
                              "Calibration data is essential for Smart Mode scanning. It will be recreated with "
                              "new scans if not available.",
                              QString::number(QMessageBox::Warning), QString::number(Qt::ApplicationModal), "Perform",
                              "Cancel", "Perform", "Cancel"}));
        QVERIFY(erases().empty());
        QCOMPARE(output->lines(cleared) + output->lines(failed), 0);
    }
};

LF_GUI_TEST_MAIN(ClearCalibrationTest)
#include "test_clear_calibration.moc"
