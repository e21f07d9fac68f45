#include "shared/account/TovrickConfiguration.h"

#include <QFile>

#include "shared/util/Json.h"
#include "shared/util/Log.h"

// The resource lives in a static library: nothing references its initialiser, so the linker would
// drop it unless it is called by name.
static void initAccountResources()
{
    Q_INIT_RESOURCE(account);
}

namespace {

std::optional<QString> configuredText()
{
    initAccountResources();
    QFile file(QStringLiteral(":/tovrick/TovrickConfig.json"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    try {
        return json::optionalString(json::requireObject(json::parse(file.readAll())), "APIURL");
    } catch (const JsonDecodeError&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<QUrl> TovrickConfiguration::acceptedBaseURL(const QString& text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QStringLiteral("https") || url.host().isEmpty()
        || !url.userName().isEmpty() || !url.password().isEmpty() || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    QUrl base = url;
    if (!base.path().endsWith(QLatin1Char('/')))
        base.setPath(base.path() + QLatin1Char('/'));
    return base;
}

std::optional<QUrl> TovrickConfiguration::apiBaseURL()
{
    // An override that is set but unusable means "not configured": falling back to the shipped
    // address would send a developer's requests somewhere they did not ask for.
    if (qEnvironmentVariableIsSet("TOVRICK_API_URL")) {
        const auto url = acceptedBaseURL(qEnvironmentVariable("TOVRICK_API_URL"));
        if (!url)
            logline::warning(QStringLiteral("TOVRICK_API_URL is not an https address with a host; the API is not configured"));
        return url;
    }
    const auto text = configuredText();
    return text ? acceptedBaseURL(*text) : std::nullopt;
}
