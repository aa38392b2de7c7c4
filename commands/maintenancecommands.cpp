#include "commands/txdeal.h"

#include "httpserver/httprequest.h"
#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryFile>

using weblet::HttpRequest;
using weblet::HttpResponse;

namespace {

// Pieces in which an upload is copied.
constexpr qint64 copyPieceBytes = 65536;

QString transferFailed()
{
    return QString::fromUtf8("传送失败");
}

// A name that stays inside the upload folder: no path of its own, no way up.
bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/'))
        && !name.contains(QLatin1String("..")) && !name.contains(QLatin1Char('\0'));
}

} // namespace

void TxDeal::tpreboot(HttpRequest &request, HttpResponse &response)
{
    SendReponse(request, response, QStringLiteral("OK"));
    platform::rebootAfterReply();
}

// Stores the file of the multipart field "upload" under its own name in the folder "fileroot"
// of the group "login" (relative to the folder of the configuration file; empty is the working
// directory) and reboots after the reply. The file appears whole or not at all: it is written
// to a temporary file beside its target and renamed only once complete.
void TxDeal::tpupload(HttpRequest &request, HttpResponse &response)
{
    QTemporaryFile *upload = request.getUploadedFile("upload");
    const QString name = QString::fromUtf8(request.getParameter("upload"));
    if (!upload || !isPlainFileName(name)) {
        qWarning("TxDeal: upload refused, file name \"%s\"", qUtf8Printable(name));
        SendReponse(request, response, transferFailed());
        return;
    }
    QSettings settings(context.configFileName, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    const QString root = settings.value(QStringLiteral("login/fileroot")).toString();
    const QString target = root.isEmpty()
        ? name
        : QDir(QFileInfo(context.configFileName).absoluteDir().absoluteFilePath(root))
              .filePath(name);

    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || !upload->seek(0)) {
        qWarning("Can't open file for writing");
        SendReponse(request, response, transferFailed());
        return;
    }
    while (!upload->atEnd()) {
        const QByteArray piece = upload->read(copyPieceBytes);
        if (piece.isEmpty() || file.write(piece) != piece.size()) {
            qWarning("TxDeal: upload of %s broke off: %s", qUtf8Printable(target),
                qUtf8Printable(file.errorString()));
            file.cancelWriting();
            break;
        }
    }
    if (!file.commit()) {
        qWarning("TxDeal: %s not stored: %s", qUtf8Printable(target),
            qUtf8Printable(file.errorString()));
        SendReponse(request, response, transferFailed());
        return;
    }
    SendReponse(request, response, QStringLiteral("OK"));
    platform::rebootAfterReply();
}
