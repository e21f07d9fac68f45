#include "Tovrick/assistant/NotesStore.h"

#include <QDir>

#include <cmath>

#include "Tovrick/assistant/RealtimeHost.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Files.h"
#include "shared/util/Text.h"

namespace {

// A name part that cannot leave the notes folder: no separators and no dot names.
bool safeNamePart(const QString& part)
{
    return !part.contains(QLatin1Char('/')) && !part.contains(QChar(u'\0')) && part != QLatin1String(".")
        && part != QLatin1String("..");
}

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

// Neighbouring pieces of one speaker, less than this apart, read as one segment.
constexpr double kMergeGap = 2.5;

} // namespace

TranscriptSegment TranscriptSegment::fromJson(const Json& json)
{
    TranscriptSegment segment;
    if (const auto it = json.find("speaker"); it != json.end() && it->is_string())
        segment.speaker = json::toQString(it->get<std::string>());
    if (const auto it = json.find("start"); it != json.end() && it->is_number())
        segment.start = it->get<double>();
    if (const auto it = json.find("end"); it != json.end() && it->is_number())
        segment.end = it->get<double>();
    if (const auto it = json.find("text"); it != json.end() && it->is_string())
        segment.text = text::trimmedSpacesAndTabs(json::toQString(it->get<std::string>()));
    return segment;
}

QString DocumentNotesStore::notesRoot()
{
    const QString owner = TovrickAccount::shared().userId().value_or(QStringLiteral("signed-out"));
    return AppPaths::documents() + QStringLiteral("/Tovrick Notes/") + TovrickAccount::nonceHash(owner);
}

std::optional<QString> DocumentNotesStore::sessionFolder(const QString& id, const QDateTime& started)
{
    const QString suffix = id.left(8).toLower();
    if (!safeNamePart(suffix))
        return std::nullopt;
    const QString root = notesRoot();
    QDir().mkpath(root);
    const QStringList entries = QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                                     QDir::NoSort);
    for (const QString& entry : entries) {
        if (entry.endsWith(suffix))
            return root + QLatin1Char('/') + entry;
    }
    const QString folder = root + QLatin1Char('/') + started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH.mm"))
        + QLatin1Char(' ') + suffix;
    QDir().mkpath(folder + QStringLiteral("/audio"));
    return folder;
}

std::optional<QString> DocumentNotesStore::saveSession(const Json& record)
{
    const auto id = record.find("id");
    const auto started = record.find("started");
    if (id == record.end() || !id->is_string() || started == record.end() || !started->is_number())
        return std::nullopt;
    const double seconds = started->get<double>();
    if (!std::isfinite(seconds))
        return std::nullopt;
    // Beyond the calendar's range the date is unusable; keep the instant within it.
    const double clamped = std::clamp(seconds, -1.0e11, 1.0e11);
    const auto folder = sessionFolder(json::toQString(id->get<std::string>()),
                                      QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(clamped * 1000.0)));
    if (!folder)
        return std::nullopt;
    try {
        // Sorted keys: nlohmann's own map type keeps them that way.
        const nlohmann::json sorted = nlohmann::json::parse(json::dump(record));
        files::writeAtomically(*folder + QStringLiteral("/session.json"),
                               QByteArray::fromStdString(sorted.dump(2)), false);
    } catch (const std::exception&) {
        // A record that cannot be written keeps the folder: the chunks still belong there.
    }
    return folder;
}

QCoro::Task<Json> DocumentNotesStore::transcribeChunk(QByteArray audio, bool diarize)
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

QCoro::Task<std::vector<TranscriptSegment>> DocumentNotesStore::transcribeDiarized(QByteArray audio)
{
    auto request = transcribeChunk(audio, true);
    const Json response = co_await std::move(request);
    std::vector<TranscriptSegment> merged;
    for (TranscriptSegment& segment : segmentsOf(response)) {
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
    co_return merged;
}

QCoro::Task<std::vector<TranscriptSegment>> DocumentNotesStore::transcribePlain(QByteArray audio)
{
    auto request = transcribeChunk(audio, false);
    const Json response = co_await std::move(request);
    std::vector<TranscriptSegment> segments;
    if (const auto it = response.find("text"); it != response.end() && it->is_string()) {
        const QString said = text::trimmedWhitespaceAndNewlines(json::toQString(it->get<std::string>()));
        if (!said.isEmpty())
            segments.push_back(TranscriptSegment {QStringLiteral("?"), 0, 0, said});
    }
    co_return segments;
}
