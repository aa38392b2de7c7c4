#pragma once

#include <QList>
#include <QPair>
#include <QString>

// Writing to an INI file that people edit by hand (DORXWebOnDevice.ini, with its comments).
namespace inifile {

// Sets the keys of values in group of the INI file at path (created when missing) and leaves
// every other line as it was: comments, other keys of the group, other groups. A key already in
// the group is replaced where it stands; a new one goes in at the start of the group, a new group
// at the end of the file. Values are written as QSettings (UTF-8) writes and reads them. The file
// is replaced in one step, readable by its owner only. False, logged, when it could not be
// written; the file is then unchanged.
bool writeGroup(
    const QString &path, const QString &group, const QList<QPair<QString, QString>> &values);

} // namespace inifile
