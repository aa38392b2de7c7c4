#include "store/sqlite.h"

#include "store/privatefile.h"
#include "store/sqlconnection.h"
#include "store/storetext.h"

#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

namespace {

const char accessFile[] = "access_database.db";
const char recordFile[] = "record_database.db";
const char settingsFile[] = "sqlconfig.ini";

struct Outcome
{
    enum State { Done, OpenFailed, StatementFailed };
    State state = Done;
    QString rows; // result text of a query: every row's columns joined by "|", then ","
    QString error; // the driver's error text when a statement failed
};

QString rowsOf(QSqlQuery &query)
{
    QString rows;
    while (query.next()) {
        const QSqlRecord record = query.record();
        for (int column = 0; column < record.count(); ++column) {
            if (column > 0)
                rows += QLatin1Char('|');
            rows += storetext::encode(record.value(column).toString());
        }
        rows += QLatin1Char(',');
    }
    return rows;
}

// Runs the statements on a connection to file. Several statements form one transaction, taken
// with the write lock up front and rolled back whole when any of them fails.
Outcome run(const char *file, const QStringList &statements)
{
    Outcome outcome;
    const bool opened = sqlconnection::use(
        QString::fromUtf8(file), "Sqlite", [&](QSqlDatabase &db) {
            QSqlQuery query(db);
            const bool transaction = statements.size() > 1;
            bool ok = !transaction || query.exec(QStringLiteral("BEGIN IMMEDIATE"));
            for (const QString &statement : statements) {
                if (!ok)
                    break;
                ok = query.exec(statement);
                if (ok && query.isSelect())
                    outcome.rows = rowsOf(query);
            }
            if (ok && transaction)
                ok = query.exec(QStringLiteral("COMMIT"));
            if (!ok) {
                outcome.state = Outcome::StatementFailed;
                outcome.error = query.lastError().text();
                qWarning("Sqlite: statement failed on %s: %s", file, qUtf8Printable(outcome.error));
                if (transaction)
                    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            }
        });
    if (!opened)
        outcome.state = Outcome::OpenFailed;
    return outcome;
}

int writeResult(const Outcome &outcome)
{
    return outcome.state == Outcome::Done ? 0 : -2;
}

QString deleteWhere(const QString &table, const QString &condition)
{
    return QStringLiteral("delete from %1 where %2").arg(table, condition);
}

QString insertInto(const QString &table, const QString &values)
{
    return QStringLiteral("INSERT INTO %1 VALUES(%2)").arg(table, values);
}

// The key condition of the delete runners and of a replace: one column, or two (door settings).
QString keyCondition(
    const QString &column1, const QString &value1, const QString &column2, const QString &value2)
{
    if (column2.isEmpty())
        return QStringLiteral("%1 = %2").arg(column1, value1);
    return QStringLiteral("%1 = %2 and %3=%4").arg(column1, value1, column2, value2);
}

struct TableSchema
{
    const char *file;
    const char *table;
    const char *logName; // the cardid table has always been announced as "account"
    const char *create;
};

const TableSchema schema[] = {
    {recordFile, "record", "record",
        "create table record(Recordid int, Personid int,Cardid text,Type int,Time int,Resultcode "
        "int, Doornum int,direction int,Form1 text,Form2 text)"},
    {accessFile, "cardid", "account",
        "create table cardid(Personid int,Cardid text,Fingerid text,Xp text,Form1 text,Form2 "
        "text)"},
    {accessFile, "permit", "permit",
        "create table permit(Permitrank int, Holidayflag int,Specialday int, Multiuser "
        "int,Releasetime int,Opentime int,Openalarmtime int,Enable int,Verifymode int,Pinwrongtime "
        "int,Pinwrongdistime int,Fhsbtime int,Dcsbtime int,isremote int,Jgms int,Retryset "
        "int,Fgzrflag int,Form1 text,Form2 text)"},
    {accessFile, "warrant", "warrant",
        "create table warrant(Warrantid int, Groupid int,Doornum int, Direction int,Permitrank "
        "int,Timezoneid int,Enable int,Type int,OpenNum int,Form1 text,Form2 text)"},
    {accessFile, "doorset", "doorset",
        "create table doorset(Doornum int,Direction int, Skqnum int,Verifymode int, Pinwrongtime "
        "int,Pinwrongdistime int,Fhsbtime int,Dcsbtime int,Isremote int,Jgms int,Retryset "
        "int,Enable int,Form1 text,Form2 text)"},
    {accessFile, "timezone", "timezone",
        "create table timezone(Timezoneid int, Starttime int,Endtime int,Interval1 tex,Interval2 "
        "text,Interval3 text,Interval4 text,Interval5 text,Interva6 text,Interva7 text,Intervas "
        "text,Intervah text,Enable int,Intervaf text,Form1 text,Form2 text)"},
    {accessFile, "specialday", "specialday",
        "create table specialday(Specialdayid int,Daytime int,Enable int,Form1 text,Form2 text)"},
    {accessFile, "holiday", "holiday",
        "create table holiday(Holidayid int,Daytime int,Enable int,Type int,Form1 text,Form2 "
        "text)"},
    {accessFile, "stay", "stay",
        "create table stay(Stayid int, Doornum int, Direction int, Holidayflag int, Specialday "
        "int,Mode text, Timezoneid int,Enable int,Form1 text,Form2 text,Fgzrflag int)"},
    {accessFile, "person", "person",
        "create table person(Personid int,Persontype int,Accountstatus int,Name text,Groupid "
        "text,Iden text,Mobil text,Password text,Regtime int,Voliditystart int,Volidityend "
        "int,Form1 text,Form2 text)"},
};

} // namespace

Sqlite::Sqlite(QObject *parent)
    : QObject(parent)
{ }

// Creates, each in its own file, every table that is missing; existing tables and their rows are
// left alone. True when all ten tables exist afterwards.
bool Sqlite::Init()
{
    bool complete = true;
    for (const TableSchema &table : schema) {
        const Outcome present = run(table.file,
            {QStringLiteral("select count(*) from sqlite_master where type='table' and name='%1'")
                    .arg(QLatin1String(table.table))});
        if (present.state == Outcome::OpenFailed) {
            // Every further table would wait out the same bound again; start-up goes on without.
            qDebug("Error: Fail to create table.%s cannot open %s", table.table, table.file);
            return false;
        }
        if (present.state == Outcome::Done && storetext::toNumber(present.rows.section(',', 0, 0)))
            continue;
        const Outcome created = run(table.file, {QString::fromLatin1(table.create)});
        if (created.state == Outcome::Done) {
            qDebug("Table %s created!", table.logName);
        } else {
            qDebug("Error: Fail to create table.%s %s", table.table, qUtf8Printable(created.error));
            complete = false;
        }
    }
    return complete;
}

// Result text of the statement; the driver's error text when it fails.
QString Sqlite::database_cmd(const QString &sql)
{
    const Outcome outcome = run(accessFile, {sql});
    if (outcome.state == Outcome::OpenFailed)
        return QStringLiteral("Error: Failed to connect database");
    return outcome.state == Outcome::Done ? outcome.rows : outcome.error;
}

QString Sqlite::database_cmd_re(const QString &sql)
{
    const Outcome outcome = run(recordFile, {sql});
    if (outcome.state == Outcome::OpenFailed)
        return QStringLiteral("Error: Failed to connect database");
    return outcome.state == Outcome::Done ? outcome.rows : outcome.error;
}

int Sqlite::clear_note(const QString &table)
{
    return writeResult(run(accessFile, {QStringLiteral("delete from %1").arg(table)}));
}

int Sqlite::clear_note_re(const QString &table)
{
    return writeResult(run(recordFile, {QStringLiteral("delete from %1").arg(table)}));
}

int Sqlite::delete_note(const QString &table, const QString &column, const QString &value)
{
    return writeResult(
        run(accessFile, {deleteWhere(table, keyCondition(column, value, QString(), QString()))}));
}

int Sqlite::delete_note_re(const QString &table, const QString &column, const QString &value)
{
    return writeResult(
        run(recordFile, {deleteWhere(table, keyCondition(column, value, QString(), QString()))}));
}

int Sqlite::delete_note_two_codition(const QString &table, const QString &column1,
    const QString &value1, const QString &column2, const QString &value2)
{
    return writeResult(
        run(accessFile, {deleteWhere(table, keyCondition(column1, value1, column2, value2))}));
}

int Sqlite::delete_note_two_codition_re(const QString &table, const QString &column1,
    const QString &value1, const QString &column2, const QString &value2)
{
    return writeResult(
        run(recordFile, {deleteWhere(table, keyCondition(column1, value1, column2, value2))}));
}

int Sqlite::add_note(const QString &table, const QString &values)
{
    return writeResult(run(accessFile, {insertInto(table, values)}));
}

int Sqlite::add_note_re(const QString &table, const QString &values)
{
    return writeResult(run(recordFile, {insertInto(table, values)}));
}

// Result text of the query; empty when nothing was found or the query could not run.
QString Sqlite::get_note(const QString &sql)
{
    return run(accessFile, {sql}).rows;
}

QString Sqlite::get_note_re(const QString &sql)
{
    return run(recordFile, {sql}).rows;
}

// As get_note, but "openf" when the database cannot be opened and "sqlcmdfailed" when the
// query fails, so the card search can tell a failure from no match.
QString Sqlite::get_note_card(const QString &sql)
{
    const Outcome outcome = run(accessFile, {sql});
    switch (outcome.state) {
    case Outcome::OpenFailed:
        return QStringLiteral("openf");
    case Outcome::StatementFailed:
        return QStringLiteral("sqlcmdfailed");
    case Outcome::Done:
        break;
    }
    return outcome.rows;
}

// Deletes the rows of the key (as the delete runners would) and inserts the new row in one
// transaction, so a refused insert leaves the old row in place. True when both took effect.
bool Sqlite::replace_note(const QString &table, const QString &column1, const QString &value1,
    const QString &column2, const QString &value2, const QString &values)
{
    const QString condition = keyCondition(column1, value1, column2, value2);
    return run(accessFile, {deleteWhere(table, condition), insertInto(table, values)}).state
        == Outcome::Done;
}

// Stores value under key in "sqlconfig.ini"; true when the file was written.
bool Sqlite::write_userset(const QString &key, const QString &value)
{
    return write_settings_file(QString::fromLatin1(settingsFile), key, value);
}

// Value of key in "sqlconfig.ini"; empty when the key or the file is missing.
QString Sqlite::read_userset(const QString &key)
{
    return read_settings_file(QString::fromLatin1(settingsFile), key);
}

// Stores value under key in the device settings file (INI, UTF-8, opened afresh so that a file
// the access daemon changed is never overwritten with an old copy); true when the file was
// written.
bool Sqlite::write_settings_file(const QString &file, const QString &key, const QString &value)
{
    if (key.isEmpty()) {
        qWarning("Sqlite: refusing to store a setting without a key");
        return false;
    }
    (void)privatefile::create(file); // the sync reports a file that cannot be made
    QSettings settings(file, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        qWarning("Sqlite: cannot write %s to %s", qUtf8Printable(key), qUtf8Printable(file));
        return false;
    }
    return true;
}

// Value of key in the device settings file; empty when the key or the file is missing.
QString Sqlite::read_settings_file(const QString &file, const QString &key)
{
    QSettings settings(file, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    return settings.value(key).toString();
}
