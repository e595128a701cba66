#include "atomic_file.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumenfield {

namespace {

constexpr char kTemporaryPrefix[] = ".lumenfield-";
constexpr int kRandomLength = 6;

QString randomSuffix()
{
    static constexpr char kCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (int i = 0; i < kRandomLength; ++i)
        suffix += QChar::fromLatin1(kCharacters[QRandomGenerator::global()->bounded(62)]);
    return suffix;
}

QString folderOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0) return QStringLiteral(".");
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

// A temporary file being written: created exclusively under a short name in the target's folder
// and locked, so that the clean-up of another instance leaves it alone while it is written.
class Temporary {
public:
    explicit Temporary(const QString& folder)
    {
        // Earlier writers that were killed leave their files here; this is when they go.
        removeStaleTemporaries(folder);
        for (int attempt = 0; attempt < 16; ++attempt) {
            const QByteArray name = QFile::encodeName(folder + u'/' + QLatin1String(kTemporaryPrefix) + randomSuffix());
            // Not mkstemp: its mode 0600 would leave the image unreadable to everybody else.
            descriptor_ = ::open(name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
            if (descriptor_ >= 0) {
                path_ = name;
                ::flock(descriptor_, LOCK_EX);
                return;
            }
            if (errno != EEXIST) return;
        }
    }
    ~Temporary()
    {
        const int reason = errno;
        if (descriptor_ >= 0) ::close(descriptor_);
        if (!placed_ && !path_.isEmpty()) ::unlink(path_.constData());
        errno = reason;
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    bool opened() const { return descriptor_ >= 0; }
    const QByteArray& path() const { return path_; }

    // Runs `write`, then flushes and closes the file (the lock goes with the close).
    bool fill(const std::function<bool(int)>& write)
    {
        bool ok = false;
        try {
            ok = write(descriptor_);
        } catch (...) {
            ok = false;
        }
        ok = ok && ::fsync(descriptor_) == 0;
        const int reason = errno;
        const bool closed = ::close(descriptor_) == 0;
        descriptor_ = -1;
        if (ok && !closed) return false;
        errno = reason;
        return ok;
    }
    void placed() { placed_ = true; }

private:
    QByteArray path_;
    int descriptor_ = -1;
    bool placed_ = false;
};

// Renames `from` to `to` unless something stands at `to` (then false with EEXIST).
bool renameWithoutReplacing(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the exclusive rename: take the name with an exclusive create first,
    // then rename over what is now our own empty file.
    const int placeholder = ::open(to.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (placeholder < 0) return false;
    ::close(placeholder);
    if (::rename(from.constData(), to.constData()) == 0) return true;
    const int reason = errno;
    ::unlink(to.constData());
    errno = reason;
    return false;
}

} // namespace

bool writeAll(int descriptor, const void* data, size_t size)
{
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

bool replaceFileAtomically(const QString& path, const std::function<bool(int)>& write)
{
    Temporary temporary(folderOf(path));
    if (!temporary.opened()) return false;
    if (!temporary.fill(write)) return false;
    if (::rename(temporary.path().constData(), QFile::encodeName(path).constData()) != 0) return false;
    temporary.placed();
    return true;
}

std::optional<QString> createFileAtomically(const std::function<QString(int)>& candidate,
                                            const std::function<bool(int)>& write, int candidates)
{
    const QString first = candidate(0);
    Temporary temporary(folderOf(first));
    if (!temporary.opened()) return std::nullopt;
    if (!temporary.fill(write)) return std::nullopt;
    for (int attempt = 0; attempt < candidates; ++attempt) {
        const QString name = attempt == 0 ? first : candidate(attempt);
        if (renameWithoutReplacing(temporary.path(), QFile::encodeName(name))) {
            temporary.placed();
            return name;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

QString numberedPath(const QString& path, int n)
{
    if (n <= 0) return path;
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    const bool hasExtension = dot > slash + 1;
    const QString stem = hasExtension ? path.left(dot) : path;
    const QString extension = hasExtension ? path.mid(dot) : QString();
    return stem + QStringLiteral(" (") + QString::number(n + 1) + u')' + extension;
}

bool isOwnTemporaryName(const QString& name)
{
    const QLatin1StringView prefix(kTemporaryPrefix);
    if (name.size() != prefix.size() + kRandomLength || !name.startsWith(prefix)) return false;
    return std::all_of(name.begin() + prefix.size(), name.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9');
    });
}

int removeStaleTemporaries(const QString& folder, const QStringList& ownNames, std::chrono::seconds age)
{
    const QByteArray encoded = QFile::encodeName(folder);
    const int directory = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) return 0;
    DIR* entries = ::fdopendir(directory);
    if (entries == nullptr) {
        ::close(directory);
        return 0;
    }
    const int reason = errno;
    const std::time_t now = std::time(nullptr);
    int removed = 0;
    while (const dirent* entry = ::readdir(entries)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (!isOwnTemporaryName(name) && !ownNames.contains(name)) continue;
        // Not following links, not waiting on a FIFO: only a plain file of that name is ours.
        const int file = ::openat(directory, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file < 0) continue;
        struct stat status {};
        const bool stale = ::fstat(file, &status) == 0 && S_ISREG(status.st_mode) &&
            now - status.st_mtime >= age.count() && ::flock(file, LOCK_EX | LOCK_NB) == 0;
        if (stale && ::unlinkat(directory, entry->d_name, 0) == 0) ++removed;
        ::close(file);
    }
    ::closedir(entries);
    errno = reason;
    return removed;
}

} // namespace lumenfield
