#pragma once

#include <QString>

// Makes a directory and everything in it read-only, for the superuser too, until the object goes:
// as root by a read-only bind mount of the directory onto itself, otherwise by file modes. Where
// neither works (root without the right to mount), isReadOnly() is false and reason() says why,
// for the test to skip.
class ReadOnlyDirectory
{
public:
    explicit ReadOnlyDirectory(const QString &path);
    ~ReadOnlyDirectory();

    bool isReadOnly() const { return reason().isEmpty(); }
    QString reason() const { return failure; }

private:
    Q_DISABLE_COPY(ReadOnlyDirectory)
    const QString path;
    bool mounted = false;
    QString failure;
};
