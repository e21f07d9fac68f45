#include "Tovrick/screen/AppOpener.h"

#include "Tovrick/screen/X11Display.h"
#include "shared/util/Xdg.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>

namespace appopener {

namespace {

// The [Desktop Entry] group of a desktop entry.
struct EntryFile {
    QHash<QString, QString> keys;

    static EntryFile read(const QString& path)
    {
        return EntryFile {xdg::readKeyFile(path).value(QStringLiteral("Desktop Entry"))};
    }

    QString value(const char* key) const { return keys.value(QString::fromLatin1(key)); }
    bool flag(const char* key) const { return value(key) == QLatin1String("true"); }
};

// The Exec line's words: spaces separate, double quotes group, and inside quotes a backslash keeps
// the next character.
std::optional<QStringList> splitExec(const QString& exec)
{
    QStringList words;
    QString word;
    bool quoted = false;
    bool inWord = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size())
                word += exec[++i];
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                word += c;
        } else if (c == QLatin1Char('"')) {
            quoted = inWord = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inWord)
        words << word;
    return words;
}

struct ClientWindow {
    Window id;
    QString className;
    QString instance;
    QString title;
};

QList<ClientWindow> clientWindows(X11Display& x)
{
    Display* display = x.handle();
    QList<ClientWindow> windows;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const Atom list = XInternAtom(display, "_NET_CLIENT_LIST", False);
    if (XGetWindowProperty(display, DefaultRootWindow(display), list, 0, 1 << 16, False, XA_WINDOW, &type,
                           &format, &count, &remaining, &data)
            != Success
        || !data) {
        x.takeError();
        return windows;
    }
    std::vector<Window> ids(count);
    if (type == XA_WINDOW && format == 32)
        std::memcpy(ids.data(), data, count * sizeof(Window));
    else
        ids.clear();
    XFree(data);

    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    for (Window id : ids) {
        ClientWindow window {id, {}, {}, {}};
        XClassHint hint {};
        if (XGetClassHint(display, id, &hint)) {
            window.className = QString::fromLocal8Bit(hint.res_class);
            window.instance = QString::fromLocal8Bit(hint.res_name);
            if (hint.res_class)
                XFree(hint.res_class);
            if (hint.res_name)
                XFree(hint.res_name);
        }
        unsigned char* title = nullptr;
        if (XGetWindowProperty(display, id, netName, 0, 1024, False, utf8, &type, &format, &count, &remaining,
                               &title)
                == Success
            && title) {
            window.title = QString::fromUtf8(reinterpret_cast<const char*>(title), static_cast<qsizetype>(count));
            XFree(title);
        }
        // A window that closed meanwhile is left out.
        if (!x.takeError())
            windows << window;
    }
    return windows;
}

bool supportsActiveWindow(X11Display& x)
{
    Display* display = x.handle();
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const Atom supported = XInternAtom(display, "_NET_SUPPORTED", False);
    const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    bool found = false;
    if (XGetWindowProperty(display, DefaultRootWindow(display), supported, 0, 1 << 16, False, XA_ATOM, &type,
                           &format, &count, &remaining, &data)
            == Success
        && data) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        found = std::find(atoms, atoms + count, active) != atoms + count;
        XFree(data);
    }
    x.takeError();
    return found;
}

} // namespace

QStringList applicationFolders()
{
    QStringList folders = xdg::dataFolders();
    for (QString& folder : folders)
        folder += QStringLiteral("/applications");
    return folders;
}

std::optional<DesktopEntry> findEntry(const QString& name, const QStringList& folders)
{
    const QString wanted = name.trimmed();
    if (wanted.isEmpty())
        return std::nullopt;
    for (const QString& folder : folders) {
        QDirIterator files(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            const EntryFile file = EntryFile::read(path);
            if (file.value("Type") != QLatin1String("Application") || file.flag("Hidden") || file.value("Exec").isEmpty())
                continue;
            const QString entryName = file.value("Name");
            const QString baseName = QFileInfo(path).completeBaseName();
            if (entryName.compare(wanted, Qt::CaseInsensitive) != 0 && baseName.compare(wanted, Qt::CaseInsensitive) != 0)
                continue;
            return DesktopEntry {path, entryName.isEmpty() ? baseName : entryName, file.value("Exec"),
                                 file.value("Icon"), file.value("Path")};
        }
    }
    return std::nullopt;
}

QStringList commandLine(const DesktopEntry& entry)
{
    const std::optional<QStringList> words = splitExec(entry.exec);
    if (!words)
        return {};
    QStringList out;
    for (const QString& word : *words) {
        if (word == QLatin1String("%i")) {
            if (!entry.icon.isEmpty())
                out << QStringLiteral("--icon") << entry.icon;
            continue;
        }
        QString expanded;
        bool dropped = false;
        for (qsizetype i = 0; i < word.size(); ++i) {
            if (word[i] != QLatin1Char('%') || i + 1 == word.size()) {
                expanded += word[i];
                continue;
            }
            const QChar code = word[++i];
            if (code == QLatin1Char('%'))
                expanded += QLatin1Char('%');
            else if (code == QLatin1Char('c'))
                expanded += entry.name;
            else if (code == QLatin1Char('k'))
                expanded += entry.path;
            else
                dropped = true; // files and addresses: there are none to pass
        }
        if (!(dropped && expanded.isEmpty()))
            out << expanded;
    }
    return out;
}

bool switchToRunning(const QString& name)
{
    X11Display x;
    if (!x)
        return false;
    const QString wanted = name.trimmed();
    const QList<ClientWindow> windows = clientWindows(x);
    const ClientWindow* match = nullptr;
    for (const ClientWindow& window : windows)
        if (window.className.compare(wanted, Qt::CaseInsensitive) == 0
            || window.instance.compare(wanted, Qt::CaseInsensitive) == 0
            || window.title.compare(wanted, Qt::CaseInsensitive) == 0) {
            match = &window;
            break;
        }
    if (!match)
        return false;
    Display* display = x.handle();
    const Window root = DefaultRootWindow(display);
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = match->id;
    event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // from a pager: the user's own choice
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    // Without a window manager that does it, raise and focus the window ourselves.
    if (!supportsActiveWindow(x)) {
        XMapRaised(display, match->id);
        XSetInputFocus(display, match->id, RevertToParent, CurrentTime);
        const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
        const Window id = match->id;
        XChangeProperty(display, root, active, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&id), 1);
    }
    x.takeError();
    return true;
}

bool launch(const DesktopEntry& entry)
{
    QStringList command = commandLine(entry);
    if (command.isEmpty())
        return false;
    const QString program = command.takeFirst();
    if (QStandardPaths::findExecutable(program).isEmpty() && !QFileInfo(program).isExecutable())
        return false;
    return QProcess::startDetached(program, command, entry.workingDirectory);
}

QString open(const QString& name)
{
    if (switchToRunning(name))
        return QStringLiteral("Switched to ") + name + QLatin1Char('.');
    const std::optional<DesktopEntry> entry = findEntry(name, applicationFolders());
    if (!entry)
        return QStringLiteral("I couldn't find an app called ") + name + QLatin1Char('.');
    if (!launch(*entry))
        return QStringLiteral("I couldn't open ") + entry->name + QLatin1Char('.');
    return QStringLiteral("Opened ") + entry->name + QLatin1Char('.');
}

} // namespace appopener
