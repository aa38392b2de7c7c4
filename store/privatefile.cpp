#include "store/privatefile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace privatefile {

bool create(const QString &path)
{
    // One call that creates or finds: no moment in which another process could create the file
    // with a wider mode between a test and the creation.
    const int fd = ::open(QFile::encodeName(path).constData(),
        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return errno == EEXIST;
    (void)::close(fd); // nothing was written that a failed close could lose
    return true;
}

} // namespace privatefile
