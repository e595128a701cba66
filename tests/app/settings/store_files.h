// Settings files for the tests. QSettings caches a file's contents per path for the whole process,
// so every store a test loads from is a fresh file: raw INI text written before any QSettings opens
// it, or a byte copy of a saved store at a new path.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// The keys of a store, sorted.
inline QStringList sortedKeys(const QSettings& store)
{
    QStringList keys = store.allKeys();
    keys.sort();
    return keys;
}

class StoreFiles {
public:
    // A store holding exactly `lines` under the [General] section.
    std::unique_ptr<QSettings> withText(const QByteArray& lines) { return open(write("[General]\n" + lines + "\n")); }
    std::unique_ptr<QSettings> empty() { return withText({}); }
    // What `saved` wrote, read back from disk by a store that has never seen it.
    std::unique_ptr<QSettings> copyOf(QSettings& saved)
    {
        saved.sync();
        EXPECT_EQ(saved.status(), QSettings::NoError);
        QFile file(saved.fileName());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return open(write(file.readAll()));
    }

private:
    QString write(const QByteArray& contents)
    {
        const QString path = dir_.filePath(QStringLiteral("store%1.conf").arg(++count_));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
        return path;
    }
    static std::unique_ptr<QSettings> open(const QString& path)
    {
        return std::make_unique<QSettings>(path, QSettings::IniFormat);
    }

    QTemporaryDir dir_;
    int count_ = 0;
};
