#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// An error whose description is a sentence that may be shown to the user (or relayed by the model).
class UserFacingError : public std::exception {
public:
    explicit UserFacingError(QString description)
        : m_description(std::move(description)), m_utf8(m_description.toUtf8())
    {
    }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};
