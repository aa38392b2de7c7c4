#include "sqlfile.h"

#include <QtSql>

namespace {

const QString connectionName = QStringLiteral("sqlfile");

// Runs work on an open connection to path, then removes the connection once no query holds it.
template<typename Work> void withDatabase(const QString &path, Work work)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(path);
        if (!db.open())
            qWarning("sqlfile: cannot open %s", qUtf8Printable(path));
        work(db);
    }
    QSqlDatabase::removeDatabase(connectionName);
}

} // namespace

bool sqlExec(const QString &path, const QStringList &statements, const QStringList &values)
{
    bool ok = true;
    withDatabase(path, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        for (const QString &statement : statements) {
            ok = query.prepare(statement);
            for (int i = 0; ok && i < statement.count('?'); ++i)
                query.addBindValue(values.value(i));
            if (!ok || !query.exec()) {
                qWarning("sqlfile: %s: %s", qUtf8Printable(statement),
                    qUtf8Printable(query.lastError().text()));
                ok = false;
                return;
            }
        }
    });
    return ok;
}

QList<QStringList> sqlRows(const QString &path, const QString &select)
{
    QList<QStringList> rows;
    withDatabase(path, [&](QSqlDatabase &db) {
        QSqlQuery query(select, db);
        while (query.next()) {
            QStringList values;
            for (int column = 0; column < query.record().count(); ++column)
                values << query.value(column).toString();
            rows << values;
        }
    });
    return rows;
}
