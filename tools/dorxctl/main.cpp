#include "clientstate.h"
#include "console.h"
#include "crypto/des.h"
#include "crypto/envelope.h"
#include "deviceclient.h"
#include "recordcommands.h"
#include "replies.h"
#include "settingscommand.h"
#include "storecommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

const char commandsHelp[]
    = "\nCommands:\n"
      "  login NAME PASSWORD   Log in with the encrypted login command; keeps the URL, the\n"
      "                        serial number and the session cookie in the state file.\n"
      "  logout                Log out with the encrypted logout command.\n"
      "  send PATH JSON        Encrypt the JSON message, post it to PATH with the session\n"
      "                        cookie and print the decrypted reply. \"id\" and \"devicesn\" are\n"
      "                        filled in when the message lacks them.\n"
      "                        e.g. send /command/getinfo/txid '{\"datas\":{}}'\n"
      "  form PATH BODY        Post the plain form BODY (name=value&...) to PATH with the session\n"
      "                        cookie and print the reply, e.g. form /command/operator_get ''\n"
      "  deshex TEXT           Print the hexadecimal DES text that the browser pages send for the\n"
      "                        password TEXT (for /command/password_set).\n"
      "  store CMD...          Run store commands on the databases and \"sqlconfig.ini\" of the\n"
      "                        current directory (on the device itself), one reply a line.\n"
      "\nOptions go before the command. The state file is $DORXCTL_SESSION, else\n"
      "~/.dorxctl-session (readable by its owner only); --url, --cacert and --devicesn given to\n"
      "login are kept there, so later commands need none of them. The URL may end in \"/\".\n";

struct Invocation
{
    QString statePath;
    ClientState state;
    int timeoutMs = 10000;
};

// Posts one request; prints nothing itself. The state's cookie follows what the device set.
bool exchange(
    Invocation &run, const QString &path, const QByteArray &body, QByteArray *reply, QString *error)
{
    if (run.state.url.isEmpty()) {
        *error = QStringLiteral("no device address: give --url http://HOST:PORT");
        return false;
    }
    DeviceClient client(run.state.url, run.state.caCertificate, run.state.cookie, run.timeoutMs);
    if (!client.post(path, body, reply, error))
        return false;
    run.state.cookie = client.cookie();
    return true;
}

// Seals message (filling "id" and "devicesn"), posts it and opens the reply into *answer, as
// replies::ofSealed says: a refusal (ExitRefused) is left to the caller to report.
int sendSealed(Invocation &run, const QString &path, QJsonObject message, QByteArray *answer)
{
    if (!message.contains(QLatin1String("id")))
        message.insert(QStringLiteral("id"), QString::number(QDateTime::currentMSecsSinceEpoch()));
    if (!message.contains(QLatin1String("devicesn")))
        message.insert(QStringLiteral("devicesn"), run.state.devicesn);
    QByteArray reply;
    QString error;
    if (!exchange(run, path, envelope::seal(QJsonDocument(message).toJson(QJsonDocument::Compact)),
            &reply, &error))
        return fail(ExitFailed, error);
    return replies::ofSealed(path, reply, answer);
}

int saveState(const Invocation &run, int status)
{
    QString error;
    if (!run.state.save(run.statePath, &error))
        return fail(ExitFailed, error);
    return status;
}

// Sends message and prints the decrypted reply (or the plain text answered instead); a refusal
// is reported.
int sendAndPrint(Invocation &run, const QString &path, const QJsonObject &message)
{
    QByteArray answer;
    const int status = sendSealed(run, path, message, &answer);
    if (status != ExitDone && status != ExitRefused)
        return status;
    printLine(answer);
    return status == ExitRefused ? replies::refusal(path, answer) : ExitDone;
}

// The state is kept only after a login that succeeded, so a failed one leaves the last good one.
int login(Invocation &run, const QString &name, const QString &password)
{
    // A fresh session for every login, so an old cookie of another device is never presented.
    run.state.cookie.clear();
    QJsonObject datas;
    datas.insert(QStringLiteral("username"), name);
    datas.insert(QStringLiteral("password"), password);
    QJsonObject message;
    message.insert(QStringLiteral("datas"), datas);
    const int status = sendAndPrint(run, QStringLiteral("/command/tplogin"), message);
    return status == ExitDone ? saveState(run, status) : status;
}

int logout(Invocation &run)
{
    const int status = sendAndPrint(run, QStringLiteral("/command/tplogout"), QJsonObject());
    if (status != ExitDone)
        return status;
    run.state.cookie.clear();
    return saveState(run, ExitDone);
}

// The state is kept whenever the device answered: the cookie is the one it set last.
int send(Invocation &run, const QString &path, const QJsonObject &message)
{
    const int status = sendAndPrint(run, path, message);
    return status == ExitFailed ? status : saveState(run, status);
}

int send(Invocation &run, const QString &path, const QString &json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(ExitUsage,
            QStringLiteral("the message is not valid JSON: %1 at offset %2")
                .arg(parseError.errorString())
                .arg(parseError.offset));
    if (!document.isObject())
        return fail(ExitUsage, QStringLiteral("the message must be a JSON object"));
    return send(run, path, document.object());
}

int form(Invocation &run, const QString &path, const QString &body)
{
    QByteArray reply;
    QString error;
    if (!exchange(run, path, body.toUtf8(), &reply, &error))
        return fail(ExitFailed, error);
    printLine(reply);
    return saveState(run, replies::ofForm(path, reply));
}

// A settings command: its form or message, and its reply printed one value a line.
int settings(Invocation &run, const QStringList &words)
{
    SettingsCall call;
    QString error;
    if (!settingsCall(words, &call, &error))
        return fail(ExitUsage, error);
    if (call.sealed)
        return send(run, call.path, call.message);
    QByteArray reply;
    if (!exchange(run, call.path, call.form, &reply, &error))
        return fail(ExitFailed, error);
    const int status = replies::ofForm(call.path, reply);
    if (status == ExitDone)
        printLine(settingsOutput(call, reply));
    return saveState(run, status);
}

int deshex(const QString &text)
{
    const QString hex = des0_out(text);
    if (hex.isEmpty())
        return fail(ExitUsage,
            QStringLiteral("the pages cannot send this password (it must be "
                           "1 to 96 Latin-1 characters, no NUL)"));
    printLine(hex.toUtf8());
    return ExitDone;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dorxctl"));

    // Arguments are taken as UTF-8 whatever the locale, so names and passwords keep their bytes.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromUtf8(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Management client of the door terminal's web server."));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption urlOption(QStringLiteral("url"),
        QStringLiteral("Device address, e.g. http://127.0.0.1:8080 or https://192.168.0.242."),
        QStringLiteral("URL"));
    const QCommandLineOption caOption(QStringLiteral("cacert"),
        QStringLiteral("PEM certificate that an https device is trusted by, e.g. its own."),
        QStringLiteral("FILE"));
    const QCommandLineOption devicesnOption(QStringLiteral("devicesn"),
        QStringLiteral("The device's serial number, as set with /command/writesn."),
        QStringLiteral("SN"));
    const QCommandLineOption sessionOption(QStringLiteral("session"),
        QStringLiteral("State file (default $DORXCTL_SESSION, else ~/.dorxctl-session)."),
        QStringLiteral("FILE"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
        QStringLiteral("Seconds to wait for a reply (10)."), QStringLiteral("SECONDS"),
        QStringLiteral("10"));
    parser.addOptions({urlOption, caOption, devicesnOption, sessionOption, timeoutOption});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("See below."));

    if (!parser.parse(arguments))
        return fail(ExitUsage, parser.errorText());
    if (parser.isSet(helpOption)) {
        printLine(parser.helpText().toUtf8() + commandsHelp + settingsHelp + recordCommandsHelp()
            + replies::help);
        return ExitDone;
    }

    const QStringList words = parser.positionalArguments();
    const QString command = words.value(0);
    const auto expect = [&](int count, const char *usage) {
        if (words.size() == count + 1)
            return true;
        fail(ExitUsage,
            QStringLiteral("usage: dorxctl [options] %1 (see --help)").arg(QLatin1String(usage)));
        return false;
    };

    if (command == QLatin1String("store"))
        return runStoreCommand(words.mid(1));
    if (command == QLatin1String("deshex"))
        return expect(1, "deshex TEXT") ? deshex(words.at(1)) : int(ExitUsage);

    Invocation run;
    run.statePath
        = parser.isSet(sessionOption) ? parser.value(sessionOption) : ClientState::defaultPath();
    bool timeoutOk = false;
    const int timeoutSeconds = parser.value(timeoutOption).toInt(&timeoutOk);
    if (!timeoutOk || timeoutSeconds <= 0)
        return fail(ExitUsage, QStringLiteral("--timeout needs a positive number of seconds"));
    run.timeoutMs = timeoutSeconds * 1000;
    QString error;
    if (!ClientState::load(run.statePath, &run.state, &error))
        return fail(ExitFailed, error);
    if (parser.isSet(urlOption) && parser.value(urlOption) != run.state.url) {
        run.state.url = parser.value(urlOption);
        run.state.cookie.clear();
    }
    if (parser.isSet(caOption))
        run.state.caCertificate = QFileInfo(parser.value(caOption)).absoluteFilePath();
    if (parser.isSet(devicesnOption))
        run.state.devicesn = parser.value(devicesnOption);

    if (command == QLatin1String("login"))
        return expect(2, "login NAME PASSWORD") ? login(run, words.at(1), words.at(2))
                                                : int(ExitUsage);
    if (command == QLatin1String("logout"))
        return expect(0, "logout") ? logout(run) : int(ExitUsage);
    if (command == QLatin1String("send"))
        return expect(2, "send PATH JSON") ? send(run, words.at(1), words.at(2)) : int(ExitUsage);
    if (command == QLatin1String("form"))
        return expect(2, "form PATH BODY") ? form(run, words.at(1), words.at(2)) : int(ExitUsage);
    if (isSettingsCommand(command))
        return settings(run, words);
    if (isRecordCommand(command)) {
        const SealedExchange exchange
            = [&run](const QString &path, const QJsonObject &message, QByteArray *answer) {
                  return sendSealed(run, path, message, answer);
              };
        return saveState(run, runRecordCommand(words, exchange));
    }
    if (command.isEmpty())
        return fail(ExitUsage, QStringLiteral("no command given (see --help)"));
    return fail(ExitUsage, QStringLiteral("unknown command \"%1\" (see --help)").arg(command));
}
