#pragma once

#include <QString>

class TovrickAccount {
public:
    // Lowercase hex SHA-256 of the text's UTF-8 bytes; names per-account folders and files.
    static QString nonceHash(const QString& text);
};
