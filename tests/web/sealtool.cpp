// Prints the server's sealed form (Base64 of the AES envelope) of each argument, one a line,
// so that the browser tests can compare the pages' own sealing with it byte for byte.
#include "crypto/envelope.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList texts = QCoreApplication::arguments().mid(1);
    for (const QString &text : texts) {
        const QByteArray sealed = envelope::seal(text.toUtf8());
        std::printf("%s\n", sealed.constData());
    }
    return 0;
}
