#include "Tovrick/assistant/MeetingNotes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "Tovrick/assistant/RealtimeHost.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Files.h"
#include "shared/util/Log.h"
#include "shared/util/Text.h"

namespace {

// Neighbouring pieces of one speaker, less than this apart, read as one segment.
constexpr double kMergeGap = 2.5;

std::vector<TranscriptSegment> segmentsOf(const Json& response)
{
    std::vector<TranscriptSegment> segments;
    const auto found = response.find("segments");
    if (found == response.end() || !found->is_array())
        return segments;
    for (const Json& item : *found) {
        if (!item.is_object())
            return {};
    }
    for (const Json& item : *found)
        segments.push_back(TranscriptSegment::fromJson(item));
    return segments;
}

std::optional<double> numberAt(const Json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number())
        return std::nullopt;
    return it->get<double>();
}

std::optional<QString> stringAt(const Json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    return json::toQString(it->get<std::string>());
}

std::int64_t integerOr0(const Json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end())
        return 0;
    if (it->is_number_unsigned())
        return static_cast<std::int64_t>(std::min<std::uint64_t>(it->get<std::uint64_t>(), INT64_MAX));
    if (it->is_number_integer())
        return it->get<std::int64_t>();
    return 0;
}

// Whole minutes between two instants, truncated toward zero; spans past the 64-bit range stop at its ends.
std::int64_t wholeMinutes(double from, double to)
{
    const double minutes = std::trunc((to - from) / 60.0);
    if (std::isnan(minutes))
        return 0;
    if (minutes >= 9223372036854775808.0)
        return INT64_MAX;
    if (minutes < -9223372036854775808.0)
        return INT64_MIN;
    return static_cast<std::int64_t>(minutes);
}

QString clockText(const QDateTime& when)
{
    return QLocale().toString(when.toLocalTime().time(), QStringLiteral("h:mm:ss AP"));
}

QString titleText(const QDateTime& when)
{
    const QDateTime local = when.toLocalTime();
    const QLocale locale;
    return locale.toString(local.date(), QLocale::LongFormat) + QStringLiteral(" at ")
        + locale.toString(local.time(), QLocale::ShortFormat);
}

} // namespace

TranscriptSegment TranscriptSegment::fromJson(const Json& json)
{
    TranscriptSegment segment;
    if (const auto speaker = stringAt(json, "speaker"))
        segment.speaker = *speaker;
    segment.start = numberAt(json, "start").value_or(0);
    segment.end = numberAt(json, "end").value_or(0);
    segment.text = text::trimmedSpacesAndTabs(stringAt(json, "text").value_or(QString()));
    return segment;
}

QString MeetingNotes::notesRoot()
{
    const QString owner = TovrickAccount::shared().userId().value_or(QStringLiteral("signed-out"));
    return AppPaths::documents() + QStringLiteral("/Tovrick Notes/") + TovrickAccount::nonceHash(owner);
}

QString MeetingNotes::readmeText()
{
    const QStringList lines {
        QStringLiteral("# Tovrick Notes"),
        QString(),
        QStringLiteral("Meeting notes recorded by Jorvy's Tovrick app (the blueberry on the iPhone). One folder per "
                       "listening session, named by start time."),
        QString(),
        QStringLiteral("In each session folder:"),
        QStringLiteral("- `notes.md`: the full transcript with timestamps and speaker labels, plus Jorvy's questions to "
                       "Tovrick, Tovrick's replies and any research reports, in time order. Start here."),
        QStringLiteral("- `session.json`: the same data, structured."),
        QStringLiteral("- `audio/`: the raw recording, as five-minute AAC chunks."),
        QString(),
        QStringLiteral("Speaker letters (A, B, \u2026) are assigned per five-minute chunk, so the same letter can mean "
                       "different people in different chunks. Lines marked \"(live)\" are a rough live transcript for "
                       "audio that hasn't been fully transcribed yet."),
    };
    return lines.join(QLatin1Char('\n'));
}

void MeetingNotes::writeReadme()
{
    const QString path = notesRoot() + QStringLiteral("/README.md");
    // Anything of that name counts: the user's own edits stay.
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        return;
    files::writeAtomically(path, readmeText().toUtf8(), false);
}

std::optional<QString> MeetingNotes::folderSuffix(const QString& id)
{
    const QString suffix = text::prefixCharacters(id, 8).toLower();
    // The id comes from the phone and names a folder: nothing that nests, escapes or matches everything.
    if (suffix.isEmpty() || suffix.contains(QLatin1Char('/')) || suffix.contains(QChar(u'\0')))
        return std::nullopt;
    return suffix;
}

QDateTime MeetingNotes::dateFromSeconds(double seconds)
{
    // Beyond the calendar's range the date is unusable; keep the instant within it.
    const double clamped = std::isnan(seconds) ? 0.0 : std::clamp(seconds, -1.0e11, 1.0e11);
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(clamped * 1000.0));
}

std::optional<QString> MeetingNotes::sessionFolder(const QString& id, const QDateTime& started)
{
    const std::optional<QString> suffix = folderSuffix(id);
    if (!suffix)
        return std::nullopt;
    const QString root = notesRoot();
    if (QDir().mkpath(root))
        writeReadme();
    const QString ending = QLatin1Char(' ') + *suffix;
    const QStringList entries = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::NoSort);
    for (const QString& entry : entries) {
        if (entry.endsWith(ending))
            return root + QLatin1Char('/') + entry;
    }
    // Latin digits whatever the locale: the name must sort and read the same everywhere.
    const QString name = QLocale::c().toString(started.toLocalTime(), QStringLiteral("yyyy-MM-dd HH.mm")) + ending;
    const QString folder = root + QLatin1Char('/') + name;
    QDir().mkpath(folder + QStringLiteral("/audio"));
    return folder;
}

std::optional<QString> MeetingNotes::saveSession(const Json& record)
{
    if (!record.is_object())
        return std::nullopt;
    const std::optional<QString> id = stringAt(record, "id");
    const std::optional<double> started = numberAt(record, "started");
    if (!id || !started)
        return std::nullopt;
    const QDateTime startedAt = dateFromSeconds(*started);
    const std::optional<QString> folder = sessionFolder(*id, startedAt);
    if (!folder)
        return std::nullopt;
    // A record that cannot be written keeps the folder (the chunks still belong there), but the
    // phone is told that nothing was saved.
    std::optional<QString> failed;
    try {
        // nlohmann's own map type keeps the keys sorted.
        const nlohmann::json sorted = nlohmann::json::parse(json::dump(record));
        failed = files::writeAtomically(*folder + QStringLiteral("/session.json"),
                                        QByteArray::fromStdString(sorted.dump(2)), false);
    } catch (const std::exception& error) {
        failed = QString::fromUtf8(error.what());
    }
    if (const auto notes = files::writeAtomically(*folder + QStringLiteral("/notes.md"),
                                                  renderNotes(record, startedAt).toUtf8(), false))
        failed = notes;
    if (failed) {
        logline::warning(QStringLiteral("meeting notes not saved: ") + *failed);
        return std::nullopt;
    }
    return folder;
}

QString MeetingNotes::renderNotes(const Json& record, const QDateTime& started)
{
    const std::optional<double> ended = numberAt(record, "ended");
    Json::array_t noEntries;
    const Json::array_t* entries = &noEntries;
    if (const auto it = record.find("entries"); it != record.end() && it->is_array()
        && std::all_of(it->begin(), it->end(), [](const Json& entry) { return entry.is_object(); }))
        entries = &it->get_ref<const Json::array_t&>();
    const std::int64_t transcribing = integerOr0(record, "transcribing");

    QStringList lines;
    lines << QStringLiteral("# Tovrick session: ") + titleText(started) << QString();
    if (!ended) {
        lines << QStringLiteral("Still recording.");
    } else {
        const double startSeconds =
            numberAt(record, "started").value_or(static_cast<double>(started.toMSecsSinceEpoch()) / 1000.0);
        const std::int64_t total = wholeMinutes(startSeconds, *ended);
        lines << QStringLiteral("Ended %1 (%2h %3m).")
                     .arg(clockText(dateFromSeconds(*ended)))
                     .arg(total / 60)
                     .arg(total % 60);
    }
    if (transcribing > 0)
        lines << QString::number(transcribing)
                + QStringLiteral(" recording chunk(s) still being transcribed; this file updates when they're done.");
    const auto asked = std::count_if(entries->begin(), entries->end(), [](const Json& entry) {
        return stringAt(entry, "kind") == QStringLiteral("asked");
    });
    if (asked > 0)
        lines << QStringLiteral("Jorvy asked Tovrick %1 question(s); they're marked inline below.").arg(asked);
    lines << QString() << QStringLiteral("## Transcript") << QString();

    for (const Json& entry : *entries) {
        const QString said = text::trimmedWhitespaceAndNewlines(stringAt(entry, "text").value_or(QString()));
        if (said.isEmpty())
            continue;
        const std::optional<double> at = numberAt(entry, "time");
        const QString time = at ? clockText(dateFromSeconds(*at)) : QString();
        const QString kind = stringAt(entry, "kind").value_or(QString());
        if (kind == QLatin1String("transcript")) {
            lines << QStringLiteral("**[%1] Speaker %2:** ").arg(time, stringAt(entry, "speaker").value_or(QStringLiteral("?")))
                    + said;
        } else if (kind == QLatin1String("heard")) {
            lines << QStringLiteral("[") + time + QStringLiteral("] (live) ") + said;
        } else if (kind == QLatin1String("asked")) {
            lines << QStringLiteral("> **[") + time + QStringLiteral("] Jorvy asked Tovrick:** ") + said;
        } else if (kind == QLatin1String("reply")) {
            lines << QStringLiteral("> **Tovrick:** ") + said;
        } else if (kind == QLatin1String("codex")) {
            lines << QStringLiteral("> **[") + time + QStringLiteral("] Codex:** ") + said;
        } else if (kind == QLatin1String("report")) {
            QStringList quoted;
            for (const QString& piece : said.split(QLatin1Char('\n')))
                quoted << QStringLiteral("> ") + piece;
            lines << QStringLiteral("> **Research report:**\n") + quoted.join(QLatin1Char('\n'));
        } else {
            lines << QStringLiteral("[") + time + QStringLiteral("] ") + said;
        }
        lines << QString();
    }
    return lines.join(QLatin1Char('\n'));
}

std::vector<MeetingNotes::Segment> MeetingNotes::mergeSegments(std::vector<Segment> segments)
{
    std::vector<Segment> merged;
    for (Segment& segment : segments) {
        if (segment.text.isEmpty())
            continue;
        if (!merged.empty() && merged.back().speaker == segment.speaker
            && segment.start - merged.back().end < kMergeGap) {
            merged.back().text += QLatin1Char(' ') + segment.text;
            merged.back().end = segment.end;
            continue;
        }
        merged.push_back(std::move(segment));
    }
    return merged;
}

QCoro::Task<Json> MeetingNotes::transcribeChunk(QByteArray audio, bool diarize)
{
    TovrickAccount& account = TovrickAccount::shared();
    const QString format = QStringLiteral("m4a");
    auto request = account.transcribe(audio, format, diarize);
    const QByteArray bytes = co_await std::move(request);
    Json response = json::parse(bytes);
    if (!response.is_object())
        throw RealtimeHost::TokenError(QStringLiteral("Invalid transcription response"));
    co_return response;
}

QCoro::Task<std::vector<MeetingNotes::Segment>> MeetingNotes::transcribeDiarized(QByteArray audio)
{
    auto request = transcribeChunk(audio, true);
    const Json response = co_await std::move(request);
    co_return mergeSegments(segmentsOf(response));
}

QCoro::Task<std::vector<MeetingNotes::Segment>> MeetingNotes::transcribePlain(QByteArray audio)
{
    auto request = transcribeChunk(audio, false);
    const Json response = co_await std::move(request);
    std::vector<Segment> segments;
    const QString said = text::trimmedWhitespaceAndNewlines(stringAt(response, "text").value_or(QString()));
    if (!said.isEmpty())
        segments.push_back(Segment {QStringLiteral("?"), 0, 0, said});
    co_return segments;
}
