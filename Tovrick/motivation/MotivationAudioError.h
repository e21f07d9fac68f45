#pragma once

#include <QString>

#include "shared/util/UserFacingError.h"

// The motivation clips' own refusals, each with the German sentence the screens show.
class MotivationAudioError : public UserFacingError {
public:
    enum class Kind { limit, invalid, permission, busy };

    explicit MotivationAudioError(Kind kind)
        : UserFacingError(text(kind)), m_kind(kind)
    {
    }

    Kind kind() const { return m_kind; }
    static QString text(Kind kind);

    bool operator==(const MotivationAudioError& other) const { return m_kind == other.m_kind; }

private:
    Kind m_kind;
};

// A file that could not be read, written or removed, or audio that could not be opened. The
// description is the sentence shown to the user.
class MotivationFileError : public UserFacingError {
public:
    using UserFacingError::UserFacingError;

    // "The file “name” couldn't be …" with the reason the file system gave, when there is one.
    static MotivationFileError couldNot(const QString& verb, const QString& path, const QString& reason = {});
};

