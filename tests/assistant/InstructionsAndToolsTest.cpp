#include <gtest/gtest.h>

#include <QFile>

#include "Tovrick/assistant/RealtimeHost.h"
#include "shared/util/Settings.h"

namespace {

QByteArray fixture(const char* name)
{
    QFile file(QStringLiteral(TOVRICK_ASSISTANT_DATA "/") + QString::fromLatin1(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

QStringList names(const Json& tools)
{
    QStringList list;
    for (const Json& tool : tools)
        list << QString::fromStdString(tool.at("name").get<std::string>());
    return list;
}

} // namespace

TEST(Instructions, EachCombinationMatchesItsGoldenText)
{
    Settings::shared().remove(QStringLiteral("personality"));
    const struct {
        bool codingAgent;
        bool computerControl;
        const char* golden;
    } cases[] = {
        {false, false, "instructions-base.txt"},
        {true, false, "instructions-codex.txt"},
        {false, true, "instructions-control.txt"},
        {true, true, "instructions-both.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.golden);
        EXPECT_EQ(RealtimeHost::instructions({c.codingAgent, c.computerControl}).toUtf8(), fixture(c.golden));
    }

    // A blank personality is the built-in one; an own one replaces only the first paragraph.
    Settings::shared().setString(QStringLiteral("personality"), QStringLiteral(" \n\t  \n"));
    EXPECT_EQ(RealtimeHost::instructions({}).toUtf8(), fixture("instructions-base.txt"));
    Settings::shared().setString(QStringLiteral("personality"), QStringLiteral("  You are a fox.\nQuiet.\n"));
    const QByteArray base = fixture("instructions-base.txt");
    EXPECT_EQ(RealtimeHost::instructions({}).toUtf8(), "You are a fox.\nQuiet." + base.mid(base.indexOf("\n\n")));
    Settings::shared().remove(QStringLiteral("personality"));
}

TEST(Tools, GroupsFollowTheTurnOptionsAndMatchTheGoldenList)
{
    const Json all = RealtimeHost::tools({true, true});
    // Key order carries no meaning: compare as unordered documents.
    EXPECT_EQ(nlohmann::json::parse(all.dump()), nlohmann::json::parse(fixture("tools-all.json").toStdString()));

    const QStringList every = names(all);
    const struct {
        bool codingAgent;
        bool computerControl;
        QStringList expected;
    } cases[] = {
        {false, false, every.mid(0, 11)},
        {true, false, every.mid(0, 16)},
        {false, true, every.mid(0, 11) + every.mid(16)},
        {true, true, every},
    };
    for (const auto& c : cases) {
        const QStringList got = names(RealtimeHost::tools({c.codingAgent, c.computerControl}));
        EXPECT_EQ(got, c.expected);
    }
    EXPECT_EQ(every.size(), 23);
    EXPECT_EQ(every[10], QStringLiteral("focus_status"));
    EXPECT_EQ(every[16], QStringLiteral("click"));
    EXPECT_EQ(names(RealtimeHost::codexTools()), every.mid(11, 5));

    // Empty parameter lists are an empty object and an empty array, never null.
    for (const Json& tool : all) {
        const Json& parameters = tool.at("parameters");
        EXPECT_TRUE(parameters.at("properties").is_object()) << tool.at("name");
        EXPECT_TRUE(parameters.at("required").is_array()) << tool.at("name");
    }
    const std::string dumped = all.dump();
    EXPECT_NE(dumped.find(R"("name":"look_at_screen","description")"), std::string::npos);
    EXPECT_NE(dumped.find(R"("properties":{},"required":[])"), std::string::npos);
    EXPECT_EQ(dumped.find("null"), std::string::npos);
}
