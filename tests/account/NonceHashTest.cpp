#include <gtest/gtest.h>

#include "shared/account/TovrickAccount.h"

TEST(AccountHash, IsLowercaseHexSha256OfUtf8)
{
    EXPECT_EQ(TovrickAccount::nonceHash(QStringLiteral("abc")),
              QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(TovrickAccount::nonceHash(QString::fromUtf8("\xC3\xA9")),
              QStringLiteral("4a99557e4033c3539de2eb65472017cad5f9557f7a0625a09f1c3f6e2ba69c4c"));
}
