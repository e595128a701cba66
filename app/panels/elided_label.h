// A one-line label that shows as much of its text as fits, with an ellipsis where the rest was cut.
// It asks for the width of the whole text but accepts any width.
#pragma once

#include <QLabel>
#include <QString>

namespace lumenfield {

class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    // The whole text, of which the label shows what fits.
    QString fullText() const { return fullText_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();

    Qt::TextElideMode mode_;
    QString fullText_;
};

} // namespace lumenfield
