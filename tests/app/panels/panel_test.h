// Helpers of the panel test programs: the captions a user sees, settings files, event settling.
#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
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
