#include "Tovrick/screen/ScreenReaderError.h"

namespace {

QString describe(ScreenReaderError::Kind kind)
{
    switch (kind) {
    case ScreenReaderError::Kind::noDisplay:
        return QStringLiteral("There is no display to capture.");
    case ScreenReaderError::Kind::declined:
        return QStringLiteral("The system declined to capture the screen.");
    case ScreenReaderError::Kind::captureFailed:
        return QStringLiteral("The screen could not be captured.");
    case ScreenReaderError::Kind::recognitionFailed:
        return QStringLiteral("Text recognition is not available.");
    }
    return QStringLiteral("The screen could not be read.");
}

} // namespace

ScreenReaderError::ScreenReaderError(Kind kind) : UserFacingError(describe(kind)), m_kind(kind) {}

ScreenReaderError::ScreenReaderError(Kind kind, const QString& description)
    : UserFacingError(description), m_kind(kind)
{
}

bool ScreenReaderError::isDeclined(const std::exception& error)
{
    const auto* own = dynamic_cast<const ScreenReaderError*>(&error);
    return own && own->kind() == Kind::declined;
}

bool ScreenReaderError::isDeclined(const std::exception_ptr& error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return isDeclined(e);
    } catch (...) {
        return false;
    }
}
