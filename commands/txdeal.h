#pragma once

#include "commands/commandcontext.h"
#include "httpserver/httprequesthandler.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

class QDate;
class QTime;

namespace weblet {
class HttpSession;
}
struct RecordKind;

// Handler of the device command paths ("/command..." other than the browser login, and
// "/FacePostMessage"). The request mapper creates one per request, calls service once and
// deletes it; nothing is kept between requests except in the HTTP session and the databases.
class TxDeal : public weblet::HttpRequestHandler
{
    Q_OBJECT

public:
    // The path is given by the mapper but not kept: service takes it from the request. context
    // must outlive the handler.
    TxDeal(const QString &path, const CommandContext &context);

    void service(weblet::HttpRequest &request, weblet::HttpResponse &response) override;

    // Command operations. Each takes the request and the response and sends exactly one reply;
    // every command family declares its operations here in a block of its own and gets its
    // rows in the route tables of txdeal.cpp.

    // Operator commands: login and logout of the management client (encrypted) and of the
    // browser, the device account record and the operator list (plain form bodies).
    void tpcommlogin(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void tpcommloginout(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void tplogout(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void tpactive(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void tppassword_set(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void operator_get(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void opera_add(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void opera_del(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void opera_mdf(weblet::HttpRequest &request, weblet::HttpResponse &response);

    // Serial number, door count and transaction counter commands, and the two settings files
    // ("sqlconfig.ini", "netconfig.ini" in the working directory; a missing key reads as "").
    void writesn(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void get_txid(weblet::HttpRequest &request, weblet::HttpResponse &response);
    static QString read_userset(const QString &key);
    static bool write_userset(const QString &key, const QString &value);
    static QString read_netset(const QString &key);
    static bool write_netset(const QString &key, const QString &value);

    // Settings commands: the device parameters of the management client (encrypted), the
    // network, identity, platform-server, clock, daily-reboot, version and content forms of the
    // pages, reboot, factory reset and upload. What they ask of the operating system goes
    // through platform/; a command that reboots answers first and reboots after its reply.
    void system_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void get_system(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void tpnetcfg_get(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void tpnetcfg_set(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void ident_get(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void ident_set(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void pfset_get(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void pfset_set(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void datetime_get(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void datetime_set(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void rebootcfg_get(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void rebootcfg_set(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void tpversion_get(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void tpdevContent_get(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void tpreboot(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void tpdefault(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void tpupload(weblet::HttpRequest &request, weblet::HttpResponse &response);
    QJsonObject get_system_obj(const QString &counts);
    static int checkip(const QString &address);
    static bool init_net();
    static bool write_net_para();

    // The store command language, in process: the reply to "<table>.<operation>.<text>".
    QString send_dbus(quint8 table, quint8 operation, const QString &text);
    static QString store_text_for_log(quint8 table, const QString &text);

    // Record maintenance and paged queries of the access-control data (one command per kind of
    // record), and door and face-reader actions.
    void person_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void cardid_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void record_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void permit_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void doorset_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void warrant_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void timezone_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void holiday_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void specialday_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void stay_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void get_person(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void get_cardid(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void get_record(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void get_permit(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void get_warrant(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void get_timezone(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void get_holiday(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void get_specialday(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void get_stay(weblet::HttpRequest &request, weblet::HttpResponse &response);
    static QJsonObject get_person_obj(const QString &row);
    static QJsonObject get_cardid_obj(const QString &row);
    static QJsonObject get_record_obj(const QString &row);
    static QJsonObject get_permit_obj(const QString &row);
    static QJsonObject get_warrant_obj(const QString &row);
    static QJsonObject get_timezone_obj(const QString &row);
    static QJsonObject get_holiday_obj(const QString &row);
    static QJsonObject get_specialday_obj(const QString &row);
    static QJsonObject get_stay_obj(const QString &row);
    void longopen_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void ycqr_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void facedevice_process(weblet::HttpRequest &request, weblet::HttpResponse &response);
    void faceinput(weblet::HttpRequest &request, weblet::HttpResponse &response);

    // The encrypted message envelope shared by every JSON command: opening requests, reading
    // their values and sealing replies (each sendback_* returns the Base64 text to send).
    static QString decode_aes(const QString &text, bool *wellFormed = nullptr);
    static QString encode_aes(const QString &text);
    static QJsonObject QstringToJson(const QString &text);
    static QString json_to_qstring(const QJsonValue &value);
    static quint32 json_to_uint(const QJsonValue &value);
    static QString sendback_respond(const QString &id, int code);
    static QString sendback_data(const QString &id, int code, const QJsonObject &datas);
    static QString sendback_data_array(
        const QString &id, int code, const QJsonObject *items, quint8 count);
    static QString sendback_data_txid(
        const QString &id, int code, const QJsonObject &datas, const QString &key);
    static QJsonObject get_txid_obj(const QString &key);
    static void delay_s(uint seconds);

private:
    // The request body as text: UTF-8 up to its first zero byte.
    static QString bodyText(const weblet::HttpRequest &request);
    bool open_session_message(weblet::HttpRequest &request, weblet::HttpResponse &response,
        QJsonObject *message, QString *id);

    // Settings commands: the opened device message (answering 2 itself, and returning false,
    // when it is meant for another device; *wellFormed as for decode_aes), a date and time a
    // client sent for the clock, and the network file written from "netconfig.ini".
    bool open_device_message(weblet::HttpRequest &request, weblet::HttpResponse &response,
        QJsonObject *message, QString *id, bool *wellFormed = nullptr);
    bool for_this_device(weblet::HttpRequest &request, weblet::HttpResponse &response,
        const QJsonObject &message, QString *id);
    static bool read_clock(const QString &date, const QString &time, QDate *day, QTime *clock);
    static bool write_net_file();

    // The record commands: one implementation for every kind (see recordcommands.cpp).
    void maintain_records(
        weblet::HttpRequest &request, weblet::HttpResponse &response, const RecordKind &kind);
    void query_records(
        weblet::HttpRequest &request, weblet::HttpResponse &response, const RecordKind &kind);

    // The session of the request being served.
    weblet::HttpSession session(weblet::HttpRequest &request, weblet::HttpResponse &response);
    // The operator logged in on that session; empty when none is.
    QString operatorName(weblet::HttpRequest &request, weblet::HttpResponse &response);

    const CommandContext &context;
    QString path; // path of the request being served, set by service
};
