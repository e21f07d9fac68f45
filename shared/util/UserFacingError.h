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

// The sentence for an exception: a user-facing one's description, else what the library said.
inline QString describeError(const std::exception& error)
{
    if (const auto* userFacing = dynamic_cast<const UserFacingError*>(&error))
        return userFacing->description();
    return QString::fromUtf8(error.what());
}

// The same for whatever was caught; `fallback` when it is not a standard exception.
inline QString describeError(const std::exception_ptr& error, const QString& fallback)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return describeError(caught);
    } catch (...) {
        return fallback;
    }
}
