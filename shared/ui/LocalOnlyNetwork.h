#pragma once

class QQmlEngine;
class QUrl;

// The windows draw text from the phone, the model, web pages and the account service. Markup in
// such text must never make the program call a server, and the windows have nothing of their own
// to load from the network: every QML engine the program makes gets a network access manager that
// refuses all but the program's resources and local files.
namespace localOnlyNetwork {

// Whether a window may load `url`: "qrc:", "file:" and "data:" addresses only.
bool allows(const QUrl& url);

// Call before the engine loads anything: an engine keeps the manager it made first.
void install(QQmlEngine& engine);

} // namespace localOnlyNetwork
