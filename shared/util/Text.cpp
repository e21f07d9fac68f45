#include "shared/util/Text.h"

#include <QStringDecoder>
#include <QTextBoundaryFinder>

namespace text {

namespace {

// Positions (in UTF-16 units) of every grapheme boundary, start and end included.
QList<qsizetype> boundaries(const QString& text)
{
    QList<qsizetype> result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    result.append(0);
    while (finder.toNextBoundary() != -1)
        result.append(finder.position());
    if (result.last() != text.size())
        result.append(text.size());
    return result;
}

bool isSpaceOrTab(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

bool isWhitespaceOrNewline(QChar c)
{
    // Also the line and paragraph separators and the other vertical breaks.
    return c.isSpace() || c == QChar(0x85) || c == QChar(0x2028) || c == QChar(0x2029);
}

template <typename Predicate>
QString trimmedBy(const QString& text, Predicate&& isTrimmed)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isTrimmed(text.at(start)))
        ++start;
    while (end > start && isTrimmed(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

} // namespace

qsizetype characterCount(const QString& text)
{
    if (text.isEmpty())
        return 0;
    return boundaries(text).size() - 1;
}

QString prefixCharacters(const QString& text, qsizetype count)
{
    if (count <= 0)
        return {};
    const auto cuts = boundaries(text);
    if (count >= cuts.size() - 1)
        return text;
    return text.left(cuts.at(count));
}

QString suffixCharacters(const QString& text, qsizetype count)
{
    if (count <= 0)
        return {};
    const auto cuts = boundaries(text);
    const qsizetype total = cuts.size() - 1;
    if (count >= total)
        return text;
    return text.mid(cuts.at(total - count));
}

QString trimmedWhitespaceAndNewlines(const QString& text)
{
    return trimmedBy(text, isWhitespaceOrNewline);
}

QString trimmedSpacesAndTabs(const QString& text)
{
    return trimmedBy(text, isSpaceOrTab);
}

qsizetype wordCount(const QString& text)
{
    qsizetype words = 0;
    bool inWord = false;
    for (const QChar c : text) {
        const bool space = isWhitespaceOrNewline(c);
        if (!space && !inWord)
            ++words;
        inWord = !space;
    }
    return words;
}

std::optional<QString> decodeUtf8Strict(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return decoded;
}

} // namespace text
