#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// "Characters" in user-facing limits are user-perceived characters (grapheme clusters), so an emoji
// with modifiers or a letter with combining marks counts once and is never cut in half.
namespace text {

qsizetype characterCount(const QString& text);
// The first `count` characters (all of the text when it is shorter).
QString prefixCharacters(const QString& text, qsizetype count);
// The last `count` characters.
QString suffixCharacters(const QString& text, qsizetype count);

// Trims white space and line breaks of every kind at both ends.
QString trimmedWhitespaceAndNewlines(const QString& text);
// Trims only spaces and tabs at both ends; line breaks stay.
QString trimmedSpacesAndTabs(const QString& text);

// The text of UTF-8 bytes, every byte kept (a leading byte-order mark too); none when they are not
// valid UTF-8, which is never patched with replacement characters.
std::optional<QString> decodeUtf8Strict(const QByteArray& bytes);

// The number of words, split on white space and line breaks.
qsizetype wordCount(const QString& text);

} // namespace text
