#include "preview_image_view.h"

#include "image_processor.h"
#include "image_settings.h"
#include "panel_style.h"
#include "preview_geometry.h"
#include "progress_card.h"
#include "scan_manager.h"
#include "scan_settings.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStackedLayout>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cmath>

namespace {

// How far the pointer must move before a press becomes a drag.
constexpr double dragThreshold = 10.0;
constexpr double borderWidth = 2.0;
constexpr double frameWidth = 2.0;
// The dash pattern and its phase run in points; Qt counts dashes in pen widths.
constexpr double dashLength = 5.0;
constexpr double phaseEnd = 10.0;
constexpr int phasePeriodMs = 1000;

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
        phase_.setStartValue(0.0);
        phase_.setEndValue(phaseEnd);
        phase_.setDuration(phasePeriodMs);
        phase_.setLoopCount(-1);
        phase_.setEasingCurve(QEasingCurve::Linear);
        connect(&phase_, &QVariantAnimation::valueChanged, this, [this] { updateFrame(); });
    }

    void setPreview(const QImage& image)
    {
        image_ = image;
        drawn_ = QImage();
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

    // Repaints the frame's area only: the dashes move many times a second.
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
        if (shown && phase_.state() != QAbstractAnimation::Running) phase_.start();
        if (!shown) phase_.stop();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const QRectF target = imageRect();
        if (target.isEmpty()) return;
        QPainter painter(this);
        const QRect pixels = target.toRect();
        if (drawn_.size() != pixels.size())
            drawn_ = image_.scaled(pixels.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        painter.drawImage(pixels.topLeft(), drawn_);
        painter.setPen(QPen(imageBorderColor(), borderWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        const double inset = borderWidth / 2;
        painter.drawRect(QRectF(pixels).adjusted(inset, inset, -inset, -inset));

        QPoint origin;
        if (const QImage* processed = pane_.currentProcessedCrop(origin)) painter.drawImage(origin, *processed);

        frameRect_ = pane_.gestures_.displayedFrame();
        QPen frame(ui::yellow(), frameWidth, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
        frame.setMiterLimit(10);
        frame.setDashPattern({dashLength / frameWidth, dashLength / frameWidth});
        frame.setDashOffset(phase_.currentValue().toDouble() / frameWidth);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(frame);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(frameRect_);
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
    // The preview resampled to the size it is drawn at, made again when that size changes.
    QImage drawn_;
    QRectF frameRect_;
    QVariantAnimation phase_;
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
                                   QWidget* parent)
    : QWidget(parent), scanManager_(scanManager), scanSettings_(scanSettings), imageSettings_(imageSettings),
      gestures_(scanSettings, imageSettings, preview_), faces_(new QStackedLayout(this)),
      imageFace_(new ImageFace(*this)), cardFace_(makeCardFace(scanManager))
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
    for (auto signal : {&ImageSettings::exposureChanged, &ImageSettings::contrastChanged,
                        &ImageSettings::saturationChanged, &ImageSettings::hueChanged,
                        &ImageSettings::sharpenessChanged, &ImageSettings::thresholdChanged})
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
    connect(&scanSettings_, &ScanSettings::previewImageScaleChanged, this, [this] { rescale(); },
            Qt::QueuedConnection);
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
    imageSettings_.setScanFrameRawImage(
        preview_.scanFrameImage(scanSettings_.previewImageScale(), scanSettings_.previewRect()));
}

void PreviewImageView::scheduleProcessing()
{
    if (processingScheduled_) return;
    processingScheduled_ = true;
    QMetaObject::invokeMethod(this, [this] { processCrop(); }, Qt::QueuedConnection);
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
