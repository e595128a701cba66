// The preview pane of the main window ("previewPane").
//
// While a scan is busy (status 1 to 4) it shows the progress card with its Stop button. Otherwise it
// shows the raw preview of the current scan source fitted into the pane at its top left, with the
// scan frame drawn over it in marching yellow dashes, and inside the frame that part of the preview
// post-processed with the current scan and image settings. The pointer draws a new frame on the
// preview, or moves the frame when the drag begins on it (FrameGestures).
//
// The pane keeps ScanSettings::previewImageScale equal to the scale it draws the preview at: when
// its size changes, when it is first laid out, when a preview of another size arrives and when
// someone else sets another scale (a settings load), it rescales the frame so that it keeps its
// place on the document. It publishes the raw crop of the frame to its ScanFrameCrop
// at the end of each gesture, at each rescale and at each change of the preview.
//
// The processed crop is computed on the GUI thread after an input changed (the preview, the scale,
// the crop's pixel rectangle, or a setting the post-processing reads) and never while painting or
// while a gesture runs.
//
// The preview is drawn at the screen's resolution. While nothing changes, the dashes step one point
// ten times a second and only the thin band along the frame's outline is drawn again.
#pragma once

#include "frame_gestures.h"
#include "preview_image.h"

#include <QImage>
#include <QRect>
#include <QWidget>

#include <vips/vips8>

#include <optional>

class QStackedLayout;

namespace lumenfield {

class ImageSettings;
class ScanFrameCrop;
class ScanManager;
class ScanSettings;

class PreviewImageView : public QWidget {
    Q_OBJECT

public:
    PreviewImageView(ScanManager& scanManager, ScanSettings& scanSettings, ImageSettings& imageSettings,
                     ScanFrameCrop& frameCrop, QWidget* parent = nullptr);
    ~PreviewImageView() override;

    // The raw preview of the current scan source, or none. The main window calls it whenever the
    // scan source or its preview changes; the same image again changes nothing.
    void setPreviewImage(std::optional<vips::VImage> image);
    const PreviewImage& previewImage() const { return preview_; }

    const FrameGestures& gestures() const { return gestures_; }
    // How often the processed crop has been computed so far.
    int processedCropCount() const { return processedCount_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    class ImageFace;

    // What a processed crop was computed from.
    struct ProcessedInputs {
        quint64 preview;
        double scale;
        QRect area;
        quint64 revision;
        bool operator==(const ProcessedInputs&) const = default;
    };

    void followStatus();
    void rescale();
    void publishCrop();
    void scheduleProcessing();
    void processCrop();
    // The processed crop to draw for the frame as it is now, or null.
    const QImage* currentProcessedCrop(QPoint& origin) const;

    ScanManager& scanManager_;
    ScanSettings& scanSettings_;
    ImageSettings& imageSettings_;
    ScanFrameCrop& frameCrop_;
    PreviewImage preview_;
    FrameGestures gestures_;
    QStackedLayout* faces_;
    ImageFace* imageFace_;
    QWidget* cardFace_;

    // Bumped by every change of a setting the post-processing reads.
    quint64 settingsRevision_ = 0;
    bool processingScheduled_ = false;
    int processedCount_ = 0;
    std::optional<ProcessedInputs> processedInputs_;
    QSize processedScaledSize_;
    QImage processed_;
};

} // namespace lumenfield
