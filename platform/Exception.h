#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// The general failure of this program: operations raise it with a text meant for the
// user, and the handler that catches it at the event loop's boundary shows that text
// through the application's error report (ErrorReport.h).
class Exception : public std::exception
{
public:
    explicit Exception(QString message) : m_message(std::move(message)), m_what(m_message.toUtf8()) {}

    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    QByteArray m_what;
};
