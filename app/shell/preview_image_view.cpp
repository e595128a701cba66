#include "preview_image_view.h"

#include "image_processor.h"
#include "image_settings.h"
#include "panel_style.h"
#include "preview_geometry.h"
#include "progress_card.h"
#include "scan_frame_crop.h"
#include "scan_manager.h"
#include "scan_settings.h"

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedLayout>
#include <QVBoxLayout>
#include <QTimer>

#include <cmath>

namespace lumenfield {

namespace {

// How far the pointer must move before a press becomes a drag.
constexpr double dragThreshold = 10.0;
constexpr double borderWidth = 2.0;
constexpr double frameWidth = 2.0;
// The dashes are as long as the gaps between them; the pattern and its phase run in points.
constexpr double dashLength = 5.0;
constexpr double phaseEnd = 10.0;
constexpr int phasePeriodMs = 1000;
// One point of phase a step.
constexpr int marchStepMs = int(phasePeriodMs / phaseEnd);
// Device lines of an image drawn in one go (see ImageFace::drawParts).
constexpr double maxBandLines = 64;

QColor imageBorderColor()
{
    return QColor::fromRgbF(0.27f, 0.28f, 0.29f);
}

} // namespace

// The image face: the fitted preview, the processed crop and the frame, and the pointer gestures.
class PreviewImageView::ImageFace : public QWidget {
public:
    explicit ImageFace(PreviewImageView& pane) : QWidget(&pane), pane_(pane)
    {
        setObjectName(QStringLiteral("imageFace"));
        connect(&march_, &QTimer::timeout, this, [this] { march(); });
    }

    void setPreview(const QImage& image)
    {
        image_ = image;
        drawn_ = QImage();
        composed_ = QImage();
        followFrameVisibility();
        update();
    }

    // The rectangle the preview is drawn in, empty without one.
    QRectF imageRect() const
    {
        if (image_.isNull()) return QRectF();
        const QSizeF size = image_.size();
        const double scale = fitScale(this->size(), size);
        return validScale(scale) ? drawnImageRect(size, scale) : QRectF();
    }

    // Repaints where the frame was and where it is now, inside included: it moved or changed size,
    // and the processed crop inside it may come or go.
    void updateFrame()
    {
        const double margin = frameWidth + 1;
        update(frameRect_.adjusted(-margin, -margin, margin, margin).toAlignedRect());
        frameRect_ = pane_.gestures_.displayedFrame();
        update(frameRect_.adjusted(-margin, -margin, margin, margin).toAlignedRect());
    }

    // The dashes march while a frame is shown.
    void followFrameVisibility()
    {
        const bool shown = isVisible() && !image_.isNull();
        if (shown && !march_.isActive()) {
            marchClock_.start();
            phase_ = 0;
            march_.start(marchStepMs);
        }
        if (!shown) march_.stop();
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        const QRectF target = imageRect();
        if (target.isEmpty()) return;
        const QRect pixels = target.toRect();
        compose(pixels);
        QPainter painter(this);
        drawParts(painter, event->region(), pixels.topLeft(), composed_);

        // The dashes as plain rectangles on whole device pixels: crisp, and a fraction of what a
        // dashed pen costs, which matters at ten steps a second.
        frameRect_ = pane_.gestures_.displayedFrame();
        const QColor dashColour = ui::yellow();
        for (const QRectF& dash : frameDashes(frameRect_, frameWidth, dashLength, phase_, rect()))
            painter.fillRect(dash, dashColour);
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton || pressed_) return;
        pressed_ = true;
        started_ = false;
        pressPoint_ = event->position();
        // A drag that begins on the frame (edges included) moves it; elsewhere it draws a new one.
        moving_ = !image_.isNull() && pane_.gestures_.displayedFrame().contains(pressPoint_);
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!pressed_ || !(event->buttons() & Qt::LeftButton)) return;
        const QPointF location = event->position();
        if (!started_) {
            const QPointF moved = location - pressPoint_;
            if (std::hypot(moved.x(), moved.y()) < dragThreshold) return;
            started_ = true;
        }
        const DragValue drag = DragValue::between(pressPoint_, location);
        if (moving_)
            pane_.gestures_.updateDragOffset(drag);
        else
            pane_.gestures_.updateNewScanFrame(drag);
        updateFrame();
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton || !pressed_) return;
        endGesture();
    }

    void showEvent(QShowEvent*) override { followFrameVisibility(); }

    void hideEvent(QHideEvent*) override
    {
        // A face hidden mid-drag (a scan began) gets no release: the gesture ends here, with what
        // the pointer has done so far, so that the processed crop is not left off for good.
        if (pressed_) endGesture();
        followFrameVisibility();
    }

private:
    // What lies under the dashes, `pixels` large at the screen's resolution: the preview, its border
    // and the processed crop. Made again only when one of them or the size changes, so that a step
    // of the dashes copies pixels back and converts or scales none.
    void compose(const QRect& pixels)
    {
        const double ratio = devicePixelRatioF();
        const QSize size = (QSizeF(pixels.size()) * ratio).toSize();
        if (drawn_.size() != size) {
            drawn_ = image_.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                         .convertToFormat(QImage::Format_RGB32);
            drawn_.setDevicePixelRatio(ratio);
        }
        QPoint origin;
        const QImage* processed = pane_.currentProcessedCrop(origin);
        const Composition inputs{drawn_.cacheKey(), processed ? processed->cacheKey() : 0, origin - pixels.topLeft()};
        if (!composed_.isNull() && inputs == composition_) return;
        composition_ = inputs;
        composed_ = drawn_.copy();
        QPainter painter(&composed_);
        painter.setPen(QPen(imageBorderColor(), borderWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        const double inset = borderWidth / 2;
        painter.drawRect(QRectF(QPointF(), QSizeF(pixels.size())).adjusted(inset, inset, -inset, -inset));
        if (processed) painter.drawImage(inputs.cropAt, *processed);
    }

    // Draws the parts of `image` (an image of device pixels), placed at `at`, that lie in `region`,
    // in bands of a few dozen device lines. The painter hands a draw of a hundred lines or more to its
    // threads, whose waking costs far more than copying the thin strips of the outline: a repaint of
    // the dashes of a full-page frame would keep every core busy for a moment, ten times a second.
    void drawParts(QPainter& painter, const QRegion& region, QPoint at, const QImage& image) const
    {
        const double ratio = image.devicePixelRatio();
        const int band = qMax(1, int(maxBandLines / ratio));
        const QRect placed(at, (QSizeF(image.size()) / ratio).toSize());
        for (const QRect& area : region) {
            const QRect part = area & placed;
            for (int top = part.top(); top <= part.bottom(); top += band) {
                const QRect slice(part.left(), top, part.width(), qMin(band, part.bottom() + 1 - top));
                const QRectF source = QRectF(slice.translated(-at));
                painter.drawImage(QRectF(slice), image, QRectF(source.topLeft() * ratio, source.size() * ratio));
            }
        }
    }

    // One step of the dashes: the phase the clock gives, in whole points, and a repaint of the
    // outline's band alone; the image inside the frame stays as it is. A step of one point is the
    // finest a standard screen shows, so ten steps a second look as smooth as the dashes can move,
    // and a finer step on a denser screen would double the cost for little to see. The band is
    // painted at once rather than queued, which would wake the program a second time per step.
    void march()
    {
        const double phase = std::floor(phaseEnd * double(marchClock_.elapsed() % phasePeriodMs) / phasePeriodMs);
        if (phase == phase_) return;
        phase_ = phase;
        if (pane_.gestures_.displayedFrame() != frameRect_)
            updateFrame();
        else
            repaint(frameOutlineRegion(frameRect_, frameWidth));
    }

    void endGesture()
    {
        pressed_ = false;
        if (!started_) return;
        started_ = false;
        if (moving_)
            pane_.gestures_.commitDragOffset();
        else
            pane_.gestures_.finishScanFrameGesture();
        update();
        pane_.scheduleProcessing();
    }

    PreviewImageView& pane_;
    QImage image_;
    // What a composed image was made from.
    struct Composition {
        qint64 preview;
        qint64 crop;
        QPoint cropAt;
        bool operator==(const Composition&) const = default;
    };

    // The preview resampled to the device pixels it is drawn on, made again when their number
    // changes, in the format the window is painted in.
    QImage drawn_;
    QImage composed_;
    Composition composition_{};
    QRectF frameRect_;
    QTimer march_;
    QElapsedTimer marchClock_;
    double phase_ = 0;
    bool pressed_ = false;
    bool started_ = false;
    bool moving_ = false;
    QPointF pressPoint_;
};

namespace {

QWidget* makeCardFace(ScanManager& manager)
{
    auto* face = new QWidget;
    face->setObjectName(QStringLiteral("progressFace"));
    auto* layout = new QVBoxLayout(face);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new ProgressCard(manager), 0, Qt::AlignCenter);
    return face;
}

} // namespace

PreviewImageView::PreviewImageView(ScanManager& scanManager, ScanSettings& scanSettings, ImageSettings& imageSettings,
                                   ScanFrameCrop& frameCrop, QWidget* parent)
    : QWidget(parent)
    , scanManager_(scanManager)
    , scanSettings_(scanSettings)
    , imageSettings_(imageSettings)
    , frameCrop_(frameCrop)
    , gestures_(scanSettings, frameCrop, preview_)
    , faces_(new QStackedLayout(this))
    , imageFace_(new ImageFace(*this))
    , cardFace_(makeCardFace(scanManager))
{
    setObjectName(QStringLiteral("previewPane"));
    faces_->setContentsMargins(0, 0, 0, 0);
    faces_->addWidget(imageFace_);
    faces_->addWidget(cardFace_);
    connect(&scanManager_, &ScanManager::scanStatusChanged, this, [this] { followStatus(); });

    // The settings the post-processing reads; a change of any of them makes a new processed crop.
    const auto bump = [this] {
        settingsRevision_++;
        scheduleProcessing();
    };
    connect(&scanSettings_, &ScanSettings::scanSourceChanged, this, bump);
    connect(&scanSettings_, &ScanSettings::colorTypeChanged, this, bump);
    for (auto signal :
         {&ImageSettings::exposureChanged, &ImageSettings::contrastChanged, &ImageSettings::saturationChanged,
          &ImageSettings::hueChanged, &ImageSettings::sharpenessChanged, &ImageSettings::thresholdChanged})
        connect(&imageSettings_, signal, this, bump);
    connect(&imageSettings_, &ImageSettings::grayModeChanged, this, bump);
    connect(&imageSettings_, &ImageSettings::bwModeChanged, this, bump);
    connect(&imageSettings_, &ImageSettings::adjustmentMethodChanged, this, bump);
    for (auto signal : {&ImageSettings::invertChanged, &ImageSettings::experimentChanged})
        connect(&imageSettings_, signal, this, bump);

    const auto frameMoved = [this] {
        imageFace_->updateFrame();
        scheduleProcessing();
    };
    connect(&scanSettings_, &ScanSettings::previewRectChanged, this, frameMoved);
    connect(&scanSettings_, &ScanSettings::previewImageScaleChanged, this, frameMoved);
    // A scale set by someone else (a settings load sets the scale, then the frame in its units) is
    // brought back in step once that change is complete.
    connect(
        &scanSettings_, &ScanSettings::previewImageScaleChanged, this, [this] { rescale(); }, Qt::QueuedConnection);
    followStatus();
}

PreviewImageView::~PreviewImageView()
{
    // The face reaches into the pane's members (a drag it ends, the frame it draws): it goes first.
    delete imageFace_;
}

void PreviewImageView::setPreviewImage(std::optional<vips::VImage> image)
{
    if (!preview_.set(std::move(image))) return;
    imageFace_->setPreview(preview_.has() ? toQImage(*preview_.image()) : QImage());
    processedInputs_.reset();
    processed_ = QImage();
    rescale();
    publishCrop();
    scheduleProcessing();
}

void PreviewImageView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    rescale();
}

void PreviewImageView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    rescale();
    scheduleProcessing();
}

void PreviewImageView::followStatus()
{
    faces_->setCurrentWidget(isScannerBusy(scanManager_.scanStatus()) ? cardFace_ : imageFace_);
    scheduleProcessing();
}

void PreviewImageView::rescale()
{
    // The pane draws at the fit scale of its own size; only a pane that is shown has its size.
    if (!isVisible() || !preview_.has()) return;
    const double scale = scanSettings_.previewImageScale();
    const std::optional<RescaledFrame> rescaled =
        rescalePreviewRect(scanSettings_.previewRect(), scale, size(), preview_.size());
    if (!rescaled || rescaled->scale == scale) return;
    scanSettings_.setPreviewImageScale(rescaled->scale);
    scanSettings_.setPreviewRect(rescaled->previewRect);
    publishCrop();
}

void PreviewImageView::publishCrop()
{
    frameCrop_.setImage(preview_.scanFrameImage(scanSettings_.previewImageScale(), scanSettings_.previewRect()));
}

void PreviewImageView::scheduleProcessing()
{
    if (processingScheduled_) return;
    processingScheduled_ = true;
    QMetaObject::invokeMethod(
        this, [this] { processCrop(); }, Qt::QueuedConnection);
}

void PreviewImageView::processCrop()
{
    processingScheduled_ = false;
    // Nobody would see it: computed when the face shows again or the gesture ends.
    if (!isVisible() || faces_->currentWidget() != imageFace_ || gestures_.isDrag()) return;
    const double scale = scanSettings_.previewImageScale();
    const QRectF frame = scanSettings_.previewRect();
    const std::optional<vips::VImage> scaled = preview_.scaled(scale);
    const QSize scaledSize = scaled ? QSize(scaled->width(), scaled->height()) : QSize();
    const ProcessedInputs inputs{preview_.serial(), scale, cropRect(frame, scaledSize), settingsRevision_};
    if (processedInputs_ == inputs) return;
    processedInputs_ = inputs;
    processedScaledSize_ = scaledSize;
    processed_ = QImage();
    if (const std::optional<vips::VImage> crop = preview_.scanFrameImage(scale, frame)) {
        processedCount_++;
        processed_ = toQImage(ImageProcessor::processImage(*crop, scanSettings_.values(), imageSettings_.values()));
    }
    imageFace_->update();
}

const QImage* PreviewImageView::currentProcessedCrop(QPoint& origin) const
{
    if (gestures_.isDrag() || processed_.isNull() || !processedInputs_) return nullptr;
    const ProcessedInputs& inputs = *processedInputs_;
    // Drawn only over the pixels it was made from; a newer frame waits for its own.
    if (inputs.preview != preview_.serial() || inputs.scale != scanSettings_.previewImageScale() ||
        inputs.area != cropRect(scanSettings_.previewRect(), processedScaledSize_))
        return nullptr;
    origin = inputs.area.topLeft();
    return &processed_;
}

} // namespace lumenfield
