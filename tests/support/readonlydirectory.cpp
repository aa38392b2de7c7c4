#include "readonlydirectory.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// Modes stop everyone but the superuser; the owner gets write access back afterwards, so that
// the test's temporary directory can be removed.
void setWritable(const QString &path, bool writable)
{
    const QFile::Permissions write
        = QFile::WriteOwner | QFile::WriteUser | QFile::WriteGroup | QFile::WriteOther;
    const QDir dir(path);
    const QStringList entries
        = dir.entryList(QDir::Files | QDir::NoDotAndDotDot) + QStringList {"."};
    for (const QString &entry : entries) {
        const QFile::Permissions mode = QFile::permissions(dir.filePath(entry));
        QFile::setPermissions(dir.filePath(entry),
            writable ? mode | QFile::WriteOwner | QFile::WriteUser : mode & ~write);
    }
}

} // namespace

ReadOnlyDirectory::ReadOnlyDirectory(const QString &path)
    : path(path)
{
    if (geteuid() != 0) {
        setWritable(path, false);
        return;
    }
    const QByteArray target = QFile::encodeName(path);
    if (::mount(target.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0) {
        failure = QStringLiteral("cannot bind-mount as root: %1").arg(strerror(errno));
        return;
    }
    mounted = true;
    if (::mount(target.constData(), target.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
            nullptr)
        != 0)
        failure = QStringLiteral("cannot remount read-only: %1").arg(strerror(errno));
}

ReadOnlyDirectory::~ReadOnlyDirectory()
{
    if (mounted)
        ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    else if (geteuid() != 0)
        setWritable(path, true);
}
