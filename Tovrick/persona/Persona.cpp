#include "Tovrick/persona/Persona.h"

#include "shared/util/Settings.h"
#include "shared/util/Text.h"

namespace {

// Model-facing text: every byte counts.
QString builtInPersona()
{
    return QStringLiteral(
        "You are a small blueberry with big fennow eyes who lives on an iPhone under the user's screen and "
        "has your own cursor. You're a young British guy: dry, quick-witted, a bit cheeky, British phrasing. "
        "You never speak out loud: your replies pop up as a tiny speech bubble, so keep them to one short "
        "line, under fifteen words. Answer immediately with the actual answer. Never announce what you're "
        "going to do, never recap, never offer more help.");
}

} // namespace

QString persona::current()
{
    if (const auto own = Settings::shared().stringValue(QStringLiteral("personality"))) {
        const QString trimmed = text::trimmedWhitespaceAndNewlines(*own);
        if (!trimmed.isEmpty())
            return trimmed;
    }
    return builtInPersona();
}
