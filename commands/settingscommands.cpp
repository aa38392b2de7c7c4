#include "commands/accessdaemon.h"
#include "commands/formfields.h"
#include "commands/txdeal.h"

#include "httpserver/httprequest.h"
#include "platform/platform.h"

#include <QDateTime>

using weblet::HttpRequest;
using weblet::HttpResponse;

namespace {

// Answer to a setting that could not be stored.
QString notStored()
{
    return QString::fromUtf8("保存设置失败！");
}

QString okOrNotStored(bool stored)
{
    return stored ? QStringLiteral("OK") : notStored();
}

// The years a terminal's clock can be set to.
constexpr int firstYear = 1970;
constexpr int lastYear = 2099;

} // namespace

void TxDeal::ident_get(HttpRequest &request, HttpResponse &response)
{
    SendReponse(request, response,
        QStringLiteral("OK&devname=%1&devnumber=%2")
            .arg(read_netset(QStringLiteral("ACCESS/DEV_NAME")),
                read_netset(QStringLiteral("ACCESS/DEV_NUMBER"))));
}

void TxDeal::ident_set(HttpRequest &request, HttpResponse &response)
{
    const FormFields form(request.getBody());
    const QString name = form.named(QStringLiteral("devname"));
    const QString number = form.named(QStringLiteral("devnumber"));
    if (name.isEmpty()) {
        SendReponse(request, response, QString::fromUtf8("设备名称格式不正确!"));
        return;
    }
    if (number.isEmpty()) {
        SendReponse(request, response, QString::fromUtf8("设备编号格式不正确!"));
        return;
    }
    SendReponse(request, response,
        okOrNotStored(write_netset(QStringLiteral("ACCESS/DEV_NAME"), name)
            && write_netset(QStringLiteral("ACCESS/DEV_NUMBER"), number)));
}

void TxDeal::pfset_get(HttpRequest &request, HttpResponse &response)
{
    SendReponse(request, response,
        QStringLiteral("OK&pf_server=%1").arg(read_netset(QStringLiteral("NET/PF_SERVER"))));
}

void TxDeal::pfset_set(HttpRequest &request, HttpResponse &response)
{
    const QString server = FormFields(request.getBody()).named(QStringLiteral("pf_server"));
    if (server.isEmpty()) {
        SendReponse(request, response, QString::fromUtf8("接入平台格式不正确!"));
        return;
    }
    SendReponse(
        request, response, okOrNotStored(write_netset(QStringLiteral("NET/PF_SERVER"), server)));
}

void TxDeal::datetime_get(HttpRequest &request, HttpResponse &response)
{
    const QDateTime now = QDateTime::currentDateTime();
    SendReponse(request, response,
        QStringLiteral("OK&Date=%1&Time=%2&Ntp=%3")
            .arg(now.toString(QStringLiteral("yyyy-MM-dd")),
                now.toString(QStringLiteral("hh:mm:ss")),
                read_netset(QStringLiteral("NET/NTP_SERVER"))));
}

// Sets the system and hardware clocks and keeps the time server. Only a real date
// ("yyyy-MM-dd") and time ("hh:mm:ss" or "hh:mm") are taken: the clock is set from the parsed
// values, so nothing else a client sends can reach the shell.
void TxDeal::datetime_set(HttpRequest &request, HttpResponse &response)
{
    const FormFields form(request.getBody());
    QDate day;
    QTime clock;
    if (!read_clock(
            form.named(QStringLiteral("Date")), form.named(QStringLiteral("Time")), &day, &clock)) {
        SendReponse(request, response, QString::fromUtf8("日期时间格式不正确!"));
        return;
    }
    if (!platform::setClock(day, clock)) {
        SendReponse(request, response, QString::fromUtf8("修改日期时间失败！"));
        return;
    }
    accessdaemon::checktime();
    SendReponse(request, response,
        okOrNotStored(
            write_netset(QStringLiteral("NET/NTP_SERVER"), form.named(QStringLiteral("Ntp")))));
}

// True with *day and *clock when date is "yyyy-MM-dd" and time "hh:mm:ss" or "hh:mm", both
// real and within the years a terminal's clock holds.
bool TxDeal::read_clock(const QString &date, const QString &time, QDate *day, QTime *clock)
{
    *day = QDate::fromString(date, QStringLiteral("yyyy-MM-dd"));
    *clock = QTime::fromString(time, QStringLiteral("hh:mm:ss"));
    if (!clock->isValid())
        *clock = QTime::fromString(time, QStringLiteral("hh:mm"));
    return day->isValid() && clock->isValid() && day->year() >= firstYear
        && day->year() <= lastYear;
}

void TxDeal::rebootcfg_get(HttpRequest &request, HttpResponse &response)
{
    const bool on = read_userset(QStringLiteral("RESETFLAG")) == QLatin1String("1");
    SendReponse(request, response,
        QStringLiteral("OK&flag=%1&hour=%2&minute=%3")
            .arg(on ? QLatin1String("Y") : QLatin1String("N"),
                read_userset(QStringLiteral("RESETHOUR")),
                read_userset(QStringLiteral("RESETMIN"))));
}

// Keeps the daily reboot as sent; the program that reboots at that time reads it.
void TxDeal::rebootcfg_set(HttpRequest &request, HttpResponse &response)
{
    const FormFields form(request.getBody());
    const bool on = form.named(QStringLiteral("flag")) == QLatin1String("Y");
    SendReponse(request, response,
        okOrNotStored(write_userset(QStringLiteral("RESETFLAG"),
                          on ? QStringLiteral("1") : QStringLiteral("0"))
            && write_userset(QStringLiteral("RESETHOUR"), form.named(QStringLiteral("hour")))
            && write_userset(QStringLiteral("RESETMIN"), form.named(QStringLiteral("minute")))));
}

void TxDeal::tpversion_get(HttpRequest &request, HttpResponse &response)
{
    SendReponse(request, response,
        QString::fromUtf8(
            "OK&设备类型=%1&产品型号=%2&硬件版本=%3&产品序列号=%4&WEB版本=%5&固件版本=%6")
            .arg(read_userset(QStringLiteral("DEVICETYPE")),
                read_userset(QStringLiteral("DEVICEMODEL")),
                read_userset(QStringLiteral("HARDWARE")), read_userset(QStringLiteral("DEVICESN")),
                read_userset(QStringLiteral("WEBVERSION")),
                read_userset(QStringLiteral("FIRMWARE"))));
}

// The contents page's counts; the bare "OK" when the store could not count.
void TxDeal::tpdevContent_get(HttpRequest &request, HttpResponse &response)
{
    const QString counted = send_dbus(80, 0, QString());
    const QStringList numbers = counted.split(QLatin1Char('.'));
    if (numbers.constFirst() != QLatin1String("0")) {
        SendReponse(request, response, QStringLiteral("OK"));
        return;
    }
    SendReponse(request, response,
        QString::fromUtf8(
            "OK&人员信息=%1&权限设置=%2&授权信息=%3&时间表=%4&特殊日期=%5&常状态=%6&记录数=%7")
            .arg(numbers.value(1), numbers.value(3), numbers.value(5), numbers.value(6),
                numbers.value(7), numbers.value(9), numbers.value(12)));
}
