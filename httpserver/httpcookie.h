#pragma once

#include <QByteArray>
#include <QList>

namespace weblet {

// One cookie: the attributes of a "Set-Cookie" header and the parser of its text form.
class HttpCookie
{
public:
    HttpCookie() = default;
    HttpCookie(const QByteArray &name, const QByteArray &value, int maxAge,
        const QByteArray &path = QByteArray(), const QByteArray &comment = QByteArray(),
        const QByteArray &domain = QByteArray(), bool secure = false, bool httpOnly = false,
        const QByteArray &sameSite = QByteArray());
    explicit HttpCookie(const QByteArray &source);

    QByteArray toByteArray() const;
    static QList<QByteArray> splitCSV(const QByteArray &source);

    void setName(const QByteArray &name) { name_ = name; }
    void setValue(const QByteArray &value) { value_ = value; }
    void setComment(const QByteArray &comment) { comment_ = comment; }
    void setDomain(const QByteArray &domain) { domain_ = domain; }
    void setMaxAge(int maxAge) { maxAge_ = maxAge; }
    void setPath(const QByteArray &path) { path_ = path; }
    void setSecure(bool secure) { secure_ = secure; }
    void setHttpOnly(bool httpOnly) { httpOnly_ = httpOnly; }
    void setSameSite(const QByteArray &sameSite) { sameSite_ = sameSite; }

    QByteArray getName() const { return name_; }
    QByteArray getValue() const { return value_; }
    QByteArray getComment() const { return comment_; }
    QByteArray getDomain() const { return domain_; }
    int getMaxAge() const { return maxAge_; }
    QByteArray getPath() const { return path_; }
    bool getSecure() const { return secure_; }
    bool getHttpOnly() const { return httpOnly_; }
    QByteArray getSameSite() const { return sameSite_; }
    int getVersion() const { return version_; }

private:
    QByteArray name_;
    QByteArray value_;
    QByteArray comment_;
    QByteArray domain_;
    int maxAge_ = 0; // seconds; 0 leaves "Max-Age" out
    QByteArray path_;
    bool secure_ = false;
    bool httpOnly_ = false;
    QByteArray sameSite_;
    int version_ = 1;
};

} // namespace weblet
