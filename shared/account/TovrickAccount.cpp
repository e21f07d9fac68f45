#include "shared/account/TovrickAccount.h"

#include "shared/util/Crypto.h"

QString TovrickAccount::nonceHash(const QString& text)
{
    return crypto::sha256Hex(text);
}
