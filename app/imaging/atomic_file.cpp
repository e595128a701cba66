#include "atomic_file.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString randomSuffix() {
    static constexpr char kCharacters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (int i = 0; i < 6; ++i)
        suffix += QChar::fromLatin1(kCharacters[QRandomGenerator::global()->bounded(62)]);
    return suffix;
}

}  // namespace

bool writeAll(int descriptor, const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(descriptor, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool replaceFileAtomically(const QString& path, const std::function<bool(int)>& write) {
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString folder = slash < 0 ? QStringLiteral(".") : path.left(slash);
    const QString name = path.mid(slash + 1);

    QByteArray temporary;
    int descriptor = -1;
    for (int attempt = 0; attempt < 16 && descriptor < 0; ++attempt) {
        temporary = QFile::encodeName(folder + QStringLiteral("/.") + name + u'.' + randomSuffix());
        // Not mkstemp: its mode 0600 would leave the image unreadable to everybody else.
        descriptor = ::open(temporary.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (descriptor < 0 && errno != EEXIST) return false;
    }
    if (descriptor < 0) return false;

    bool ok = false;
    try {
        ok = write(descriptor);
    } catch (...) {
        ok = false;
    }
    ok = ok && ::fsync(descriptor) == 0;
    ok = (::close(descriptor) == 0) && ok;
    ok = ok && ::rename(temporary.constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok) {
        // errno keeps the reason of the failed step, for the caller's message.
        const int reason = errno;
        ::unlink(temporary.constData());
        errno = reason;
    }
    return ok;
}
