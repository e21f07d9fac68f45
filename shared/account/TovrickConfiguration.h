#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// Where the product's API lives. The address ships with the program in the "TovrickConfig" resource
// under the key "APIURL"; "TOVRICK_API_URL" in the environment replaces it for development and tests.
struct TovrickConfiguration {
    // The https base address (always ending in "/"), or none when the program is not configured.
    static std::optional<QUrl> apiBaseURL();

    // The address accepted as a base: https, with a host, without user or password, no query or
    // fragment. None for anything else.
    static std::optional<QUrl> acceptedBaseURL(const QString& text);
};
