#include <gtest/gtest.h>

#include "Tovrick/assistant/RealtimeHost.h"
#include "shared/util/Settings.h"
#include "shared/util/Text.h"

TEST(Persona, OwnPersonaIsTrimmedAndABlankOneGivesTheBuiltIn)
{
    Settings::shared().remove(QStringLiteral("personality"));
    const QString builtIn = RealtimeHost::persona();
    EXPECT_EQ(text::characterCount(builtIn), 440);

    Settings::shared().setString(QStringLiteral("personality"), QStringLiteral("   \n\t \n"));
    EXPECT_EQ(RealtimeHost::persona(), builtIn);
    Settings::shared().setString(QStringLiteral("personality"), QStringLiteral("\n  You are a fox.\nSpeak softly.  \n"));
    EXPECT_EQ(RealtimeHost::persona(), "You are a fox.\nSpeak softly.");
    Settings::shared().remove(QStringLiteral("personality"));
}
