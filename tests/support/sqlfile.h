#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Reads and writes a database file of a server beside it, as the access daemon or an operator's
// shell would. Each call opens its own connection and closes it before returning.

// Runs the statements in order, the values bound to the "?" of each; false at the first that
// fails (its error is logged as a warning).
bool sqlExec(const QString &path, const QStringList &statements, const QStringList &values = {});
// The rows select answers, each as its values in column order.
QList<QStringList> sqlRows(const QString &path, const QString &select);
