#pragma once

#include "commandclient.h"

#include <QList>
#include <QMetaType>

// One post of a conversation with the server and the reply body it must get.
struct Exchange
{
    QByteArray command; // the path below "/command/"
    QByteArray body;
    QString reply;
};
Q_DECLARE_METATYPE(Exchange)
using Conversation = QList<Exchange>;

// Posts each exchange in turn through client; the first reply that differs fails the test, with
// the command named. Callers return when QTest::currentTestFailed().
void converse(Client &client, const Conversation &conversation);
