// The raw preview cut to the scan frame: published by the preview pane whenever the frame or the
// preview changes, read by the histogram of the processed frame. Lives beside the settings, for
// as long as the window that publishes it; never stored.
#pragma once

#include <QMetaType>
#include <QObject>

#include <vips/vips8>

#include <optional>

Q_DECLARE_METATYPE(std::optional<vips::VImage>)

namespace lumenfield {

class ScanFrameCrop : public QObject {
    Q_OBJECT

public:
    explicit ScanFrameCrop(QObject* parent = nullptr);

    const std::optional<vips::VImage>& image() const { return image_; }
    // A different image object counts as a change; the same object set again does not.
    void setImage(const std::optional<vips::VImage>& value);

Q_SIGNALS:
    void imageChanged(const std::optional<vips::VImage>& value);

private:
    std::optional<vips::VImage> image_;
};

} // namespace lumenfield
