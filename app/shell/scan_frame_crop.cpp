#include "scan_frame_crop.h"

#include <QThread>

namespace lumenfield {

ScanFrameCrop::ScanFrameCrop(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<std::optional<vips::VImage>>();
}

void ScanFrameCrop::setImage(const std::optional<vips::VImage>& value)
{
    Q_ASSERT(QThread::currentThread() == thread());
    const bool same = value.has_value() == image_.has_value() && (!value || value->get_image() == image_->get_image());
    if (same) return;
    image_ = value;
    Q_EMIT imageChanged(image_);
}

} // namespace lumenfield
