#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

// The operator accounts ("user") and the per-client transaction counters ("txid") in
// "login_sql.db" of the working directory. Every operation opens the file afresh on a connection
// of the calling thread and closes it before returning; nothing is cached. Values always reach
// SQL as bound parameters, so quotes in names or passwords are data, never statement text.
//
// Writing operations return 0 when done, -1 when the database did not open and -2 when the
// statement failed; reading operations return an empty result on either failure.
class OperatorDb
{
public:
    OperatorDb() = delete;

    // Start-up check, before the listener accepts connections: makes sure the file holds both
    // tables and an enabled super-user (the built-in one, into a new "user" table or, with a
    // warning, into one that has none). One transaction: on any failure, logged as critical, the
    // file stays as it was.
    static void check_sql();
    // Creates the two tables and inserts the built-in super-user into a newly created "user".
    static void init_sql();
    // Rows of "txid" kept: a new key beyond them drops the keys advanced longest ago.
    static constexpr int mostCounters = 5000;

    // Flat row list: the four column texts of every user row in table order (NULL gives "").
    static QStringList get_operate_db();
    // Flat row list of the rows whose name equals name exactly (case-sensitive).
    static QStringList get_operate_db_by_username(const QString &name);
    // Whether name may log in with the plain password: the first row of that name (exact,
    // case-sensitive) must hold that password and be enabled ("1"). A later row of the same
    // name is never looked at.
    static bool login_allowed(const QString &name, const QString &password);
    // Number of user rows; 0 also when the database cannot be read.
    static uint get_user_count();
    // Inserts one row of values (in column order) into table "user" or "txid"; any other table
    // name is refused with -2.
    static int add_note(const QString &table, const QVariantList &values);
    // Deletes every user row.
    static int clear_user();
    // Replaces every user row by rows (each in column order) in one transaction: on any failure
    // the old rows stay whole.
    static int replace_users(const QList<QVariantList> &rows);
    static int upgrade_password(const QString &name, const QString &password);
    // Stored counter of the client key. A key never seen before is stored with counter 1 and
    // reads as 0 this once (when the table is full, the key advanced longest ago goes).
    static uint get_txid_db(const QString &key);
    static int upgrade_txid(const QString &key, uint value);
    // Runs statement with the positional values bound to its '?' placeholders; each result row
    // is its values joined by "|" and followed by ",". Empty on failure.
    static QString get_note(const QString &statement, const QVariantList &values = {});

    // The row of the built-in super-user ("dorx"), in the column order of "user".
    static QVariantList builtInSuperUser();
    // Password of the built-in super-user, also given to new operators and on password reset.
    static QString defaultPassword();
};
