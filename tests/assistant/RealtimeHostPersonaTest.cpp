#include <gtest/gtest.h>

#include "Tovrick/assistant/RealtimeHost.h"
#include "shared/util/Settings.h"
#include "shared/util/Text.h"

namespace {

class Persona : public ::testing::Test {
protected:
    void TearDown() override { Settings::shared().remove(QStringLiteral("personality")); }
};

TEST_F(Persona, BuiltInPersonaStandsInForAnEmptyOne)
{
    Settings::shared().remove(QStringLiteral("personality"));
    const QString builtIn = RealtimeHost::persona();
    EXPECT_EQ(text::characterCount(builtIn), 440);
    EXPECT_TRUE(builtIn.startsWith(QStringLiteral("You are a small blueberry with big fennow eyes")));
    EXPECT_TRUE(builtIn.endsWith(QStringLiteral("never recap, never offer more help.")));

    for (const char* blank : {"", "   \n\t \n"}) {
        Settings::shared().setString(QStringLiteral("personality"), QString::fromUtf8(blank));
        EXPECT_EQ(RealtimeHost::persona(), builtIn) << '"' << blank << '"';
    }
}

TEST_F(Persona, OwnPersonaIsTrimmedWithInnerLineBreaksKept)
{
    Settings::shared().setString(QStringLiteral("personality"), QStringLiteral("\n  You are a fox.\nSpeak softly.  \n"));
    EXPECT_EQ(RealtimeHost::persona(), "You are a fox.\nSpeak softly.");
}

} // namespace
