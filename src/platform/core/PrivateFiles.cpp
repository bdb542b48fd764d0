#include "platform/core/PrivateFiles.h"
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString CannotOpen(int error)
{
    // O_NOFOLLOW's refusal reads "Too many levels of symbolic links" otherwise.
    if (error == ELOOP)
        return QStringLiteral("is a symbolic link, which a recording is never written through");
    return QStringLiteral("cannot be opened: ") + SystemError(error);
}

// O_NONBLOCK so that opening a pipe does not wait for its other end; it
// changes nothing for a regular file, and is cleared once the file is known.
bool KeepIfRegular(int fd, QString& why)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        why = QStringLiteral("cannot be examined: ") + SystemError(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        why = QStringLiteral("is not a regular file");
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return true;
}

int Checked(int fd, QString& why, bool lock)
{
    if (fd < 0) {
        why = CannotOpen(errno);
        return -1;
    }
    if (!KeepIfRegular(fd, why)) {
        ::close(fd);
        return -1;
    }
    if (lock && !LockExclusively(fd)) {
        why = QStringLiteral("is in use: another client is recording into it");
        ::close(fd);
        return -1;
    }
    return fd;
}

void SyncFolderOf(const QString& path)
{
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return;
    ::fsync(folder);
    ::close(folder);
}

} // namespace

bool LockExclusively(int fd)
{
    // flock, not fcntl: its lock belongs to the opening, so two recorders of
    // one process (--record naming today's day file) exclude each other too.
    int result = 0;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

int OpenRegularFileForReading(const QString& path, QString& why)
{
    return Checked(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC), why, false);
}

int OpenPrivateFileForAppending(const QString& path, QString& why)
{
    constexpr int Flags = O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    return Checked(::open(QFile::encodeName(path).constData(), Flags, 0600), why, true);
}

int CreateReplacementFile(const QString& path, int like, QString& why)
{
    const QByteArray name = QFile::encodeName(path);
    ::unlink(name.constData());
    constexpr int Flags = O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC;
    const int fd = Checked(::open(name.constData(), Flags, 0600), why, true);
    if (fd < 0)
        return -1;
    struct stat original {};
    struct stat created {};
    bool kept = ::fstat(like, &original) == 0 && ::fstat(fd, &created) == 0;
    if (kept && (original.st_uid != created.st_uid || original.st_gid != created.st_gid))
        kept = ::fchown(fd, original.st_uid, original.st_gid) == 0;
    if (kept)
        kept = ::fchmod(fd, original.st_mode & 07777) == 0;
    if (!kept) {
        why = QStringLiteral("cannot be given the mode and owner of the file it replaces: ") + SystemError(errno);
        ::close(fd);
        ::unlink(name.constData());
        return -1;
    }
    return fd;
}

bool ReplaceBySyncedFile(int fd, const QString& from, const QString& to, QString& why)
{
    if (::fsync(fd) != 0) {
        why = QStringLiteral("cannot be written to the disk: ") + SystemError(errno);
        return false;
    }
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
        why = QStringLiteral("cannot take the place of the file: ") + SystemError(errno);
        return false;
    }
    // The rename itself lives in the folder. Some file systems cannot sync a
    // folder; the file is in its place all the same.
    SyncFolderOf(to);
    return true;
}
