#include <gtest/gtest.h>

#include "shared/account/TovrickAccount.h"
#include "shared/account/TovrickConfiguration.h"

TEST(Configuration, AcceptsOnlyHttpsWithAHostAndNoCredentials)
{
    struct Case {
        const char* text;
        const char* base; // nullptr: refused
    };
    const Case cases[] = {
        {"https://api.example.com/api/", "https://api.example.com/api/"},
        {"https://api.example.com/api", "https://api.example.com/api/"},
        {"https://api.example.com", "https://api.example.com/"},
        {"  https://api.example.com:8443/v/  ", "https://api.example.com:8443/v/"},
        {"http://api.example.com/api/", nullptr},
        {"https:///api/", nullptr},
        {"https://user@api.example.com/", nullptr},
        {"https://api.example.com/api/?key=1", nullptr},
        {"https://api.example.com/api/#x", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const auto base = TovrickConfiguration::acceptedBaseURL(QString::fromUtf8(c.text));
        EXPECT_EQ(base ? base->toString() : QString(), QString::fromUtf8(c.base)) << c.text;
    }
}

TEST(Configuration, TheEnvironmentOverridesTheShippedAddressAndABadOneMeansNotConfigured)
{
    qputenv("TOVRICK_API_URL", "https://dev.example.com/api/");
    EXPECT_EQ(TovrickConfiguration::apiBaseURL().value_or(QUrl()), QUrl(QStringLiteral("https://dev.example.com/api/")));
    qputenv("TOVRICK_API_URL", "http://dev.example.com/api/");
    EXPECT_FALSE(TovrickConfiguration::apiBaseURL().has_value());
}

TEST(AccountHash, IsLowercaseHexSha256OfUtf8)
{
    EXPECT_EQ(TovrickAccount::nonceHash(QStringLiteral("abc")),
              QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(TovrickAccount::nonceHash(QString::fromUtf8("\xC3\xA9")),
              QStringLiteral("4a99557e4033c3539de2eb65472017cad5f9557f7a0625a09f1c3f6e2ba69c4c"));
}
