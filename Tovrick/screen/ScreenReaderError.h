#pragma once

#include "shared/util/UserFacingError.h"

#include <exception>

// Why a screen reading failed. `declined` is the system refusing the capture (the case that pauses
// a focus session and asks the user to recheck access); X11 itself never refuses, but the case is
// kept so every caller handles it.
class ScreenReaderError : public UserFacingError {
public:
    enum class Kind { noDisplay, declined, captureFailed, recognitionFailed };

    explicit ScreenReaderError(Kind kind);
    ScreenReaderError(Kind kind, const QString& description);

    Kind kind() const { return m_kind; }

    static ScreenReaderError noDisplay() { return ScreenReaderError(Kind::noDisplay); }
    static ScreenReaderError declined() { return ScreenReaderError(Kind::declined); }

    // Whether an error is the system declining the capture.
    static bool isDeclined(const std::exception& error);
    static bool isDeclined(const std::exception_ptr& error);

private:
    Kind m_kind;
};
