#include "store/inifile.h"

#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

namespace inifile {

namespace {

// The lines QSettings itself writes for the group, header first: spliced into the file, the
// values read back exactly as they were written, whatever characters they hold. Empty when they
// could not be made.
QStringList renderedGroup(const QString &group, const QList<QPair<QString, QString>> &values)
{
    const QTemporaryDir dir;
    if (!dir.isValid())
        return {};
    const QString path = dir.filePath(QStringLiteral("group.ini"));
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setIniCodec("UTF-8");
        settings.beginGroup(group);
        for (const auto &value : values)
            settings.setValue(value.first, value.second);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The key of a "key=value" line; empty for comments, headers and anything else.
QString keyOf(const QString &line)
{
    const QString trimmed = line.trimmed();
    const int equals = trimmed.indexOf(QLatin1Char('='));
    if (equals <= 0 || trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#')))
        return QString();
    return trimmed.left(equals).trimmed();
}

bool isHeader(const QString &line)
{
    const QString trimmed = line.trimmed();
    return trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'));
}

// lines with the group's keys replaced by the rendered ones (header first); a key the group
// does not hold yet goes in after the group's first header, a group the file lacks at its end.
QStringList spliced(QStringList lines, const QStringList &rendered)
{
    const QString header = rendered.first();
    QStringList keyLines = rendered.mid(1);
    QStringList keys;
    for (const QString &line : keyLines)
        keys << keyOf(line);
    QStringList result;
    int groupStart = -1;
    bool inGroup = false;
    for (const QString &line : lines) {
        if (isHeader(line)) {
            inGroup = line.trimmed() == header;
            if (inGroup && groupStart < 0)
                groupStart = result.size() + 1;
        } else if (inGroup) {
            const int index = keys.indexOf(keyOf(line));
            if (index >= 0) {
                // A later line of the same key would override this one: it goes.
                if (!keyLines.at(index).isNull())
                    result << keyLines.at(index);
                keyLines[index] = QString();
                continue;
            }
        }
        result << line;
    }
    QStringList missing;
    for (const QString &line : keyLines) {
        if (!line.isNull())
            missing << line;
    }
    if (groupStart >= 0) {
        for (int i = 0; i < missing.size(); ++i)
            result.insert(groupStart + i, missing.at(i));
    } else {
        if (!result.isEmpty() && !result.last().trimmed().isEmpty())
            result << QString();
        result << header << missing;
    }
    return result;
}

} // namespace

bool writeGroup(
    const QString &path, const QString &group, const QList<QPair<QString, QString>> &values)
{
    const QStringList rendered = renderedGroup(group, values);
    if (rendered.size() != values.size() + 1) {
        qWarning("IniFile: cannot render the group %s", qUtf8Printable(group));
        return false;
    }
    QStringList lines;
    QFile current(path);
    if (current.exists()) {
        if (!current.open(QIODevice::ReadOnly)) {
            qWarning("IniFile: cannot read %s: %s", qUtf8Printable(path),
                qUtf8Printable(current.errorString()));
            return false;
        }
        lines = QString::fromUtf8(current.readAll()).split(QLatin1Char('\n'));
        if (lines.last().isEmpty())
            lines.removeLast(); // the final line end
    }
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly)
        && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        && file.write(
               (spliced(lines, rendered).join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8())
            >= 0
        && file.commit();
    if (!written) {
        qWarning("IniFile: cannot write %s: %s", qUtf8Printable(path),
            qUtf8Printable(file.errorString()));
    }
    return written;
}

} // namespace inifile
