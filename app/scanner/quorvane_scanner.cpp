#include "quorvane_scanner.h"

#include "console_lines.h"
#include "se_boundary.h"
#include "se_host.h"
#include "shared_support.h"
#include "usb_presence.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace lumenfield {

namespace {

uint64_t asValue(int64_t value)
{
    return static_cast<uint64_t>(value);
}

// The most pixels a side of a scan may have.
constexpr int64_t kMaxScanPixels = 10000;

// The last far edge, in base-resolution pixels, that keeps a side starting at `first` within
// kMaxScanPixels at `resolution`, as the driver counts: each edge becomes whole thousandths of an
// inch (truncated), and the side is (far - near + 1) thousandths at the resolution (truncated).
int64_t lastEdgeWithinLimit(int64_t first, int64_t base, int64_t resolution)
{
    const int64_t near = first * 1000 / base;
    // (far - near + 1) × resolution < (kMaxScanPixels + 1) × 1000
    const int64_t far = near + ((kMaxScanPixels + 1) * 1000 - 1) / resolution - 1;
    // The largest pixel whose thousandths do not pass `far`.
    return ((far + 1) * base - 1) / 1000;
}

EIMAGEINFO imageInfoFrom(const SEImageInfo& reply)
{
    return EIMAGEINFO{static_cast<int32_t>(reply.width), static_cast<int32_t>(reply.height),
                      static_cast<int32_t>(reply.bytesPerLine)};
}

// The optical resolution and largest frame of one source, selected first.
struct SourceFrame {
    uint32_t opticalResolution = 0;
    ScannerFrameCap frameCap;
};

bool readSourceFrame(SEHost& host, uint16_t source, SourceFrame& out)
{
    if (!host.setValue(SE_CMD_SOURCE, source, 0).ok()) return false;
    SEOpticalResolution optical{};
    if (!host.getCapability(SE_CMD_OPTICAL_RESOLUTION, 0, &optical).ok()) return false;
    SEFrameCap frame{};
    if (!host.getCapability(SE_CMD_SCAN_FRAME, 0, &frame).ok()) return false;
    out.opticalResolution = optical.resolution;
    if (frame.resolution == 0 || frame.resolution > uint32_t(std::numeric_limits<int32_t>::max())) return false;
    out.frameCap.SampleRes = static_cast<int32_t>(frame.resolution);
    out.frameCap.Max = ScannerFrameLimits{frame.left, frame.top, frame.right, frame.bottom};
    // An empty largest frame leaves nothing to scan.
    return frame.right > frame.left && frame.bottom > frame.top;
}

} // namespace

std::optional<uint16_t> boundarySource(VekScanSource source)
{
    switch (source) {
    case VekScanSource::reflective: return SE_SOURCE_REFLECTIVE;
    case VekScanSource::positiveFilm: return SE_SOURCE_POSITIVE_FILM;
    case VekScanSource::negativeFilm: return SE_SOURCE_NEGATIVE_FILM;
    }
    return std::nullopt;
}

QRectF frameCapArea(const ScannerFrameCap& cap)
{
    if (cap.SampleRes <= 0) return QRectF();
    const float sampleRes = static_cast<float>(cap.SampleRes);
    return QRectF(0, 0, static_cast<float>(cap.Max.Right - cap.Max.Left) / sampleRes,
                  static_cast<float>(cap.Max.Bottom - cap.Max.Top) / sampleRes);
}

QRectF sourceScanArea(const ScannerCapabilities& capabilities, int64_t source)
{
    if (isFilm(VekScanSource(source)) && capabilities.filmFrameCap.SampleRes > 0)
        return frameCapArea(capabilities.filmFrameCap);
    return capabilities.fullScanRect;
}

QuorvaneScanner::QuorvaneScanner(std::optional<std::filesystem::path> driverFolder)
    : driverFolder_(std::move(driverFolder)), host_(std::make_unique<SEHost>())
{}

QuorvaneScanner::~QuorvaneScanner() = default;

std::filesystem::path QuorvaneScanner::driverURL() const
{
    return driverFolder_ ? *driverFolder_ : platform::driverFolder();
}

bool QuorvaneScanner::failConnect(ConnectFailure failure)
{
    std::lock_guard guard(mutex_);
    connectFailure_ = std::move(failure);
    return false;
}

bool QuorvaneScanner::loadDriver()
{
    auto lock = host_->lock();
    const std::filesystem::path folder = driverURL();
    if (!host_->init(folder).ok()) {
        unloadDriver();
        printLine("Failed to load driver!");
        return failConnect(
            {ConnectFailure::Kind::driverNotLoaded, folder.string(), "no driver bundle was found there"});
    }
    uint16_t count = 0;
    host_->enumerateDevices(&count);
    const std::optional<SELoadFailure> loadFailure = host_->lastLoadFailure();
    SEResult selected = SE_HOST_NO_DEVICE_FOUND;
    if (count >= 1 && (selected = host_->selectDevice(0)).ok()) {
        prepareScannerInfo();
        if (prepareScannerCapabilities()) {
            failConnect({});
            return true;
        }
        unloadDriver();
        return failConnect({ConnectFailure::Kind::scannerNotOpened, {}, "the scanner did not describe itself"});
    }
    unloadDriver();
    // Only a driver that did load can have listed the scanner.
    if (count == 0 && loadFailure)
        return failConnect({ConnectFailure::Kind::driverNotLoaded, loadFailure->bundle.string(), loadFailure->reason});
    // The driver leaves out a scanner it cannot open; the bus says whether one is there.
    const UsbPresence presence = probeScannersOnBus();
    if (presence.busy) return failConnect({ConnectFailure::Kind::scannerBusy, {}, {}});
    if (presence.found == 0 && count == 0) return failConnect({ConnectFailure::Kind::noScanner, {}, {}});
    std::string detail = presence.denied ? std::string("this user may not use it")
        : !presence.detail.empty()       ? presence.detail
        : count == 0                     ? std::string("the driver could not set it up")
                                         : "the driver answered " + std::to_string(selected.code());
    return failConnect({ConnectFailure::Kind::scannerNotOpened, {}, std::move(detail)});
}

ConnectFailure QuorvaneScanner::connectFailure() const
{
    std::lock_guard guard(mutex_);
    return connectFailure_;
}

void QuorvaneScanner::unloadDriver()
{
    host_->shutdown();
}

void QuorvaneScanner::prepareScannerInfo()
{
    auto lock = host_->lock();
    SCANNERINFO next = info();
    next.masterModelCode = static_cast<uint16_t>(host_->currentDeviceId());
    SEScannerInfo reply{};
    host_->getCapability(SE_CMD_SCANNER_INFO, 0, &reply);
    next.subModelCode = reply.subModel;
    if (const std::optional<SEDeviceEntry> entry = host_->deviceEntry(0)) {
        next.scannerName = entry->deviceName; // terminated by the device layer
        next.driverPrivilege = entry->version;
        if (reply.firmware != 0) next.firmwareRevision = entry->firmwareVersion;
    }
    std::lock_guard guard(mutex_);
    info_ = std::move(next);
}

bool QuorvaneScanner::prepareScannerCapabilities()
{
    auto lock = host_->lock();
    ScannerCapabilities caps;
    caps.depth = 8;
    const auto finish = [&](bool succeeded) {
        std::lock_guard guard(mutex_);
        capabilities_ = caps;
        return succeeded;
    };
    uint16_t sources = 0;
    if (!host_->getCapability(SE_CMD_SOURCE, 0, &sources).ok()) return finish(false);
    caps.sources = sources;

    // Each source describes its own area: select it before asking. The main description is the
    // reflective source's, the largest area, when the scanner has one.
    const bool hasFilm = (sources & (SE_SOURCE_POSITIVE_FILM | SE_SOURCE_NEGATIVE_FILM)) != 0;
    const bool hasReflective = (sources & SE_SOURCE_REFLECTIVE) != 0;
    SourceFrame film;
    SourceFrame reflective;
    if (hasFilm && !readSourceFrame(*host_, SE_SOURCE_POSITIVE_FILM, film)) return finish(false);
    if (hasReflective && !readSourceFrame(*host_, SE_SOURCE_REFLECTIVE, reflective)) return finish(false);
    if (!hasFilm && !hasReflective) return finish(false);
    const SourceFrame& main = hasReflective ? reflective : film;
    caps.opticalResolution = static_cast<uint16_t>(std::min<uint32_t>(main.opticalResolution, 0xFFFF));
    caps.frameCap = main.frameCap;
    caps.filmFrameCap = film.frameCap;
    caps.fullScanRect = frameCapArea(main.frameCap);

    SEImageType types{};
    if (!host_->getCapability(SE_CMD_IMAGE_TYPE, 0, &types).ok()) return finish(false);
    caps.imageTypes = static_cast<uint16_t>(types.type);

    if (host_->getCapability(SE_CMD_INTERPOLATION, 0, 0).code() != SE_NOT_SUPPORTED) {
        SEInterpolation interpolation{};
        host_->getCurrent(SE_CMD_INTERPOLATION, 0, &interpolation);
        caps.interpolation = ScannerInterpolation{static_cast<int16_t>(interpolation.enabled),
                                                  static_cast<int16_t>(interpolation.xResolution),
                                                  static_cast<int16_t>(interpolation.yResolution)};
    }
    SEResult status(SE_NOT_SUPPORTED);
    host_->getCapability(SE_CMD_WHOLE_CALIBRATION, 0, 0, &status);
    caps.isSupportWholeCalibration = status.ok() ? 1 : 0;
    host_->getCapability(SE_CMD_CALIBRATION, 0, 0, &status);
    caps.isSupportSmartCalibration = status.ok() ? 1 : 0;
    caps.isSupportEnhanceColorConsistency = host_->getCapability(SE_CMD_COLOR_CONSISTENCY, 0, 0).ok() ? 1 : 0;
    SERange resolutions{};
    host_->getCapability(SE_CMD_RESOLUTION, 0, &resolutions);
    caps.resolutionRange =
        ScannerRange{resolutions.minimum, resolutions.maximum, static_cast<int32_t>(resolutions.third)};
    uint8_t paperSensor = 0;
    const SEResult paperAnswer = host_->getCapability(SE_CMD_PAPER_SENSOR, 0, &paperSensor);
    caps.isSupportPaperSensor = paperAnswer.ok() && paperSensor == 1 ? 1 : 0;
    SERange exposure{};
    caps.isSupportShrinkableExposureRatio = host_->getCapability(SE_CMD_EXPOSURE_RATIO, 0, &exposure).ok() ? 1 : 0;
    caps.shrinkableExposureRange =
        ScannerRange{exposure.minimum, exposure.maximum, static_cast<int32_t>(exposure.third)};
    return finish(true);
}

QuorvaneScanner::Outcome QuorvaneScanner::answered(int16_t code, SEResult answer)
{
    Outcome outcome;
    outcome.sent = true;
    outcome.succeeded = answer.ok();
    outcome.code = code;
    outcome.answer = answer;
    return outcome;
}

template <typename Update> void QuorvaneScanner::updateSettings(Update update)
{
    std::lock_guard guard(mutex_);
    update(settings_);
}

QuorvaneScanner::Outcome QuorvaneScanner::applyScanSource(int64_t source)
{
    updateSettings([&](ScannerSettings& s) { s.source = source; });
    const std::optional<uint16_t> value = boundarySource(VekScanSource(source));
    if (!value) return notSent();
    return answered(SE_CMD_SOURCE, host_->setValue(SE_CMD_SOURCE, *value, 0));
}

QuorvaneScanner::Outcome QuorvaneScanner::applyColorType(int64_t colorType)
{
    int64_t source = 0;
    updateSettings([&](ScannerSettings& s) {
        s.colorType = colorType;
        s.depth = SE_DEPTH_8_BITS;
        source = s.source;
    });
    // The driver is always asked for 8-bit colour; the colour type is made from it afterwards.
    Outcome depth = answered(SE_CMD_DEPTH, host_->setValue(SE_CMD_DEPTH, SE_DEPTH_8_BITS, 0));
    if (!depth.succeeded) return depth;
    SEImageType type{};
    type.type = SE_IMAGE_COLOR;
    Outcome image = answered(SE_CMD_IMAGE_TYPE, host_->setValue(SE_CMD_IMAGE_TYPE, 0, &type));
    if (!image.succeeded) return image;
    return applyLinearLUT(SE_DEPTH_8_BITS, source);
}

QuorvaneScanner::Outcome QuorvaneScanner::applyResolution(int64_t resolution)
{
    updateSettings([&](ScannerSettings& s) { s.resolution = resolution; });
    return answered(SE_CMD_RESOLUTION, host_->setValue(SE_CMD_RESOLUTION, asValue(resolution), 0));
}

QuorvaneScanner::Outcome QuorvaneScanner::applyScanRect(const QRectF& rect, int64_t unit)
{
    if (!(rect.width() > 0) || !(rect.height() > 0)) return notSent();
    const ScannerSettings current = settings();
    const ScannerCapabilities caps = capabilities();
    const ScannerFrameCap& cap = isFilm(VekScanSource(current.source)) ? caps.filmFrameCap : caps.frameCap;
    // Inches cannot become pixels of a source without a base resolution (no such source).
    if (unit == 0 && cap.SampleRes <= 0) return notSent();
    // The base resolution as the single-precision number it always was; the products in double.
    const double scale = unit == 0 ? static_cast<double>(static_cast<float>(cap.SampleRes)) : 1.0;
    const double x0 = std::trunc(rect.x() * scale);
    const double y0 = std::trunc(rect.y() * scale);
    const double x1 = std::trunc((rect.x() + rect.width()) * scale);
    const double y1 = std::trunc((rect.y() + rect.height()) * scale);
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return notSent();
    if (x0 < 0 || x0 > 65535 || y0 < 0 || y0 > 65535) return notSent();
    // The far edges are cut to the largest frame; x1 >= x0 >= 0, so these are unsigned compares.
    auto right = static_cast<int64_t>(std::min(x1, static_cast<double>(cap.Max.Right)));
    auto bottom = static_cast<int64_t>(std::min(y1, static_cast<double>(cap.Max.Bottom)));
    const auto left = static_cast<int64_t>(x0);
    const auto top = static_cast<int64_t>(y0);
    // A frame within the pixel limit in inches can still pass it by a few pixels once the driver
    // has made whole thousandths of its edges: the far edges are drawn in as far as that takes.
    if (current.resolution > 0 && cap.SampleRes > 0) {
        right = std::min(right, lastEdgeWithinLimit(left, cap.SampleRes, current.resolution));
        bottom = std::min(bottom, lastEdgeWithinLimit(top, cap.SampleRes, current.resolution));
    }
    updateSettings([&](ScannerSettings& s) {
        s.scanRect = QRectF(double(left), double(top), double(right - left), double(bottom - top));
    });
    SEFrame frame{static_cast<uint16_t>(left), static_cast<uint16_t>(top), static_cast<uint16_t>(right),
                  static_cast<uint16_t>(bottom)};
    return answered(SE_CMD_SCAN_FRAME, host_->setValue(SE_CMD_SCAN_FRAME, 0, &frame));
}

QuorvaneScanner::Outcome QuorvaneScanner::applyExposureRatio(int64_t ratio)
{
    if (capabilities().isSupportShrinkableExposureRatio != 1) return notSent();
    return answered(SE_CMD_EXPOSURE_RATIO, host_->setValue(SE_CMD_EXPOSURE_RATIO, asValue(ratio), 0));
}

QuorvaneScanner::Outcome QuorvaneScanner::applyScanQuality(int64_t quality)
{
    updateSettings([&](ScannerSettings& s) { s.quality = quality; });
    return answered(SE_CMD_SCAN_QUALITY, host_->setValue(SE_CMD_SCAN_QUALITY, asValue(quality), 0));
}

QuorvaneScanner::Outcome QuorvaneScanner::applyCalibrationMode(int64_t mode)
{
    if (capabilities().isSupportSmartCalibration != 1) return notSent();
    return answered(SE_CMD_CALIBRATION, host_->setValue(SE_CMD_CALIBRATION, SE_CALIBRATION_SET_MODE, asValue(mode)));
}

QuorvaneScanner::Outcome QuorvaneScanner::applyLinearLUT(uint32_t depth, int64_t source)
{
    SEGammaDescriptor gamma{};
    Outcome size = answered(SE_CMD_GAMMA, host_->getDefault(SE_CMD_GAMMA, SE_GAMMA_ALL_CHANNELS, &gamma));
    if (!size.succeeded) return size;
    const uint32_t entries = gamma.entries;
    const uint16_t entryBytes = gamma.bytesPerEntry;
    if (entries < 1 || entries > 65536 || (entryBytes != 1 && entryBytes != 2)) {
        printLineFormatted("Error: Tone tables of %u entries of %u bytes", entries, unsigned(entryBytes));
        size.succeeded = false;
        size.reported = true;
        return size;
    }
    const uint64_t top = depth == SE_DEPTH_16_BITS ? 65535 : 255;
    const uint64_t largest = entryBytes == 1 ? 0xFF : 0xFFFF;
    std::vector<uint8_t> tables[3];
    try {
        for (std::vector<uint8_t>& table : tables) table.assign(std::size_t{entries} * entryBytes, 0);
    } catch (const std::bad_alloc&) {
        printLine("Error: No memory for tone tables");
        size.succeeded = false;
        size.reported = true;
        return size;
    }
    // Entry i of a ramp over the whole table: i × (M + 1) / N, from 0 to at most M.
    for (uint32_t i = 0; i < entries; i++) {
        uint64_t value = uint64_t{i} * (top + 1) / entries;
        if (VekScanSource(source) == VekScanSource::negativeFilm) value = top - value;
        value = std::min(value, largest);
        for (std::vector<uint8_t>& table : tables) {
            if (entryBytes == 1) {
                table[i] = static_cast<uint8_t>(value);
            } else {
                const auto word = static_cast<uint16_t>(value);
                std::memcpy(&table[std::size_t{i} * 2], &word, 2);
            }
        }
    }
    for (int channel = 0; channel < 3; channel++) gamma.table[channel] = SE_Address(tables[channel].data());
    return answered(SE_CMD_GAMMA, host_->setValue(SE_CMD_GAMMA, SE_GAMMA_ALL_CHANNELS, &gamma));
}

bool QuorvaneScanner::setScanSource(int64_t source)
{
    auto lock = host_->lock();
    return applyScanSource(source).succeeded;
}

bool QuorvaneScanner::setColorType(int64_t colorType)
{
    auto lock = host_->lock();
    return applyColorType(colorType).succeeded;
}

bool QuorvaneScanner::setResolution(int64_t resolution)
{
    auto lock = host_->lock();
    return applyResolution(resolution).succeeded;
}

bool QuorvaneScanner::setScanRect(const QRectF& rect, int64_t unit)
{
    auto lock = host_->lock();
    return applyScanRect(rect, unit).succeeded;
}

bool QuorvaneScanner::setShrinkableExposureRatio(int64_t ratio)
{
    auto lock = host_->lock();
    return applyExposureRatio(ratio).succeeded;
}

bool QuorvaneScanner::setScanQuality(int64_t quality)
{
    auto lock = host_->lock();
    return applyScanQuality(quality).succeeded;
}

bool QuorvaneScanner::setCalibrationMode(int64_t mode)
{
    auto lock = host_->lock();
    return applyCalibrationMode(mode).succeeded;
}

bool QuorvaneScanner::clearCalibrationData(int resolution)
{
    auto lock = host_->lock();
    SEResult status(SE_NOT_SUPPORTED);
    const SEResult answer = host_->setValue(SE_CMD_CALIBRATION, SE_CALIBRATION_ERASE, asValue(resolution), &status);
    setLastError(SE_CMD_CALIBRATION, status.ok() ? SE_SUCCESS : answer);
    return status.ok();
}

bool QuorvaneScanner::clearAllCalibrationData()
{
    return clearCalibrationData(0);
}

bool QuorvaneScanner::setEnhanceColorConsistency(bool enable)
{
    auto lock = host_->lock();
    if (capabilities().isSupportEnhanceColorConsistency != 1) return false;
    return host_->setValue(SE_CMD_COLOR_CONSISTENCY, enable ? 1 : 0, 0).ok();
}

bool QuorvaneScanner::setLinearLUT(uint32_t depth, int64_t source)
{
    auto lock = host_->lock();
    return applyLinearLUT(depth, source).succeeded;
}

bool QuorvaneScanner::startScan(const ScanRequest& request)
{
    auto lock = host_->lock();
    // One setting the driver refuses ends the start: scanning with the previous source or frame
    // would give the user a scan of something else. Settings refused here without a command (a
    // source or frame that cannot be, a capability the scanner lacks) are left out silently.
    setLastError(0, SE_SUCCESS);
    const auto refused = [this](const Outcome& outcome) {
        if (!outcome.sent || outcome.succeeded) return false;
        if (!outcome.reported) printLineFormatted("Error: Scan setting %d: %d", outcome.code, outcome.answer.code());
        setLastError(outcome.code, outcome.answer);
        return true;
    };
    if (refused(applyScanSource(request.scanSource))) return false;
    if (refused(applyColorType(request.colorType))) return false;
    if (refused(applyResolution(request.resolution))) return false;
    if (refused(applyScanRect(request.scanRect, 0))) return false;
    if (refused(applyExposureRatio(request.exposureRatio))) return false;
    if (refused(applyScanQuality(request.scanQuality))) return false;
    if (refused(applyCalibrationMode(request.calibrationMode))) return false;

    SEImageInfo geometry{};
    SEResult answer = host_->getCurrent(SE_CMD_IMAGE_INFO, 0, &geometry);
    if (!answer.ok()) {
        printLineFormatted("Error: Get Image Info: %d", answer.code());
        setLastError(SE_CMD_IMAGE_INFO, answer);
        return false;
    }
    {
        std::lock_guard guard(mutex_);
        imageInfo_ = imageInfoFrom(geometry);
    }
    answer = host_->setValue(SE_CMD_START_SCAN, 0, &geometry);
    if (!answer.ok()) {
        printLineFormatted("Error: Start Scan: %d", answer.code());
        setLastError(SE_CMD_START_SCAN, answer);
        return false;
    }
    // The lines come in the started scan's geometry, so that is what buffers are sized from.
    std::lock_guard guard(mutex_);
    imageInfo_ = imageInfoFrom(geometry);
    return true;
}

void QuorvaneScanner::setLastError(int16_t command, SEResult answer)
{
    std::lock_guard guard(mutex_);
    lastError_ = ScannerCommandError{command, answer};
}

ScannerCommandError QuorvaneScanner::lastError() const
{
    std::lock_guard guard(mutex_);
    return lastError_;
}

EIMAGEINFO QuorvaneScanner::getImageInfo()
{
    SEImageInfo geometry{};
    host_->getCurrent(SE_CMD_IMAGE_INFO, 0, &geometry);
    return imageInfoFrom(geometry);
}

int16_t QuorvaneScanner::getImage(void* buffer, int16_t lines, SEResult* status)
{
    SELineTransfer transfer{};
    transfer.buffer = SE_Address(buffer);
    const uint32_t wanted = lines > 0 ? static_cast<uint32_t>(lines) : 0;
    transfer.wanted = wanted;
    SEResult result(SE_NOT_SUPPORTED);
    host_->setValue(SE_CMD_READ_LINES, 0, &transfer, &result);
    if (status != nullptr) *status = result;
    if (result.code() == SE_NOT_SUPPORTED) return 0;
    // More lines than the buffer holds cannot have been delivered into it: no count at all, so that
    // no caller reads past its buffer or takes the block as good.
    if (transfer.delivered > wanted) return -1;
    return static_cast<int16_t>(transfer.delivered);
}

bool QuorvaneScanner::stopScan()
{
    SEResult status(SE_NOT_SUPPORTED);
    host_->setValue(SE_CMD_STOP_SCAN, 0, 0, &status);
    return status.ok();
}

int64_t QuorvaneScanner::status() const
{
    std::lock_guard guard(mutex_);
    return status_;
}

void QuorvaneScanner::setStatus(int64_t status)
{
    std::lock_guard guard(mutex_);
    status_ = status;
}

EIMAGEINFO QuorvaneScanner::imageInfo() const
{
    std::lock_guard guard(mutex_);
    return imageInfo_;
}

SCANNERINFO QuorvaneScanner::info() const
{
    std::lock_guard guard(mutex_);
    return info_;
}

ScannerSettings QuorvaneScanner::settings() const
{
    std::lock_guard guard(mutex_);
    return settings_;
}

ScannerCapabilities QuorvaneScanner::capabilities() const
{
    std::lock_guard guard(mutex_);
    return capabilities_;
}

void QuorvaneScanner::setInfo(const SCANNERINFO& info)
{
    std::lock_guard guard(mutex_);
    info_ = info;
}

void QuorvaneScanner::setCapabilities(const ScannerCapabilities& capabilities)
{
    std::lock_guard guard(mutex_);
    capabilities_ = capabilities;
}

} // namespace lumenfield
