#include "conversation.h"

#include <QtTest>

void converse(Client &client, const Conversation &conversation)
{
    for (const Exchange &exchange : conversation) {
        const QString reply = client.post("/command/" + exchange.command, exchange.body);
        QVERIFY2(reply == exchange.reply,
            qPrintable(QStringLiteral("%1 answered \"%2\", not \"%3\"")
                           .arg(QString::fromUtf8(exchange.command), reply, exchange.reply)));
    }
}
