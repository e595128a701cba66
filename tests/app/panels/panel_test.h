// Helpers of the panel test programs: the captions a user sees, settings files, event settling.
#pragma once

#include "layout_checks.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

// The texts of the visible labels named "caption" under `root`, top to bottom.
inline QStringList visibleCaptions(const QWidget* root)
{
    QStringList texts;
    for (const QLabel* caption : root->findChildren<QLabel*>(QStringLiteral("caption")))
        if (caption->isVisibleTo(root)) texts << caption->text();
    return texts;
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs what the last changes queued, and what that queued in turn.
inline void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// What keeps `panel` from sitting at the top of its column as tall as it asks to be, with each row
// shown in `content` as tall as the row asks to be: in words, or empty when nothing does.
inline QString heightMismatch(const QWidget* panel, const QWidget* content)
{
    if (panel->y() != 0) return QStringLiteral("panel at y %1").arg(panel->y());
    if (panel->height() != naturalHeight(panel))
        return QStringLiteral("panel %1 high, asks for %2").arg(panel->height()).arg(naturalHeight(panel));
    for (const QWidget* row : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (row->isVisible() && row->height() != naturalHeight(row))
            return QStringLiteral("row %1 %2 high, asks for %3")
                .arg(row->objectName())
                .arg(row->height())
                .arg(naturalHeight(row));
    return QString();
}

// A column as the main window has them: `panel` 400 wide at the top of a far taller column, with a
// stretch below it. The panel goes back to having no parent when the column goes.
class TallColumn {
public:
    explicit TallColumn(QWidget* panel) : panel_(panel)
    {
        auto* layout = new QVBoxLayout(&host_);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(panel);
        layout->addStretch();
        host_.resize(400, 1400);
        host_.show();
        settleLayouts();
    }
    ~TallColumn() { panel_->setParent(nullptr); }
    TallColumn(const TallColumn&) = delete;
    TallColumn& operator=(const TallColumn&) = delete;

private:
    QWidget host_;
    QWidget* panel_;
};

// Settings files at paths no QSettings has opened before, since they cache a file's contents per path.
class FreshStores {
public:
    // A store holding `lines` of INI text under [General].
    std::unique_ptr<QSettings> make(const QByteArray& lines = {})
    {
        const QString path = dir_.filePath(QStringLiteral("store%1.ini").arg(++count_));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) file.write("[General]\n" + lines);
        file.close();
        return std::make_unique<QSettings>(path, QSettings::IniFormat);
    }
    // What `saved` wrote, read back from its bytes by a store that has never seen it.
    std::unique_ptr<QSettings> copyOf(QSettings& saved)
    {
        saved.sync();
        return make(fileBytes(saved.fileName()).replace("[General]\n", ""));
    }

private:
    QTemporaryDir dir_;
    int count_ = 0;
};
