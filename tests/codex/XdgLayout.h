#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <map>

// A desktop's XDG folders made for one test: the user's and the system's config and data folders,
// and a current desktop "Test". The environment is put back when it goes.
class XdgLayout {
public:
    XdgLayout()
    {
        set("XDG_CONFIG_HOME", m_root.filePath(QStringLiteral("config")));
        set("XDG_CONFIG_DIRS", m_root.filePath(QStringLiteral("etc")));
        set("XDG_DATA_HOME", m_root.filePath(QStringLiteral("data")));
        set("XDG_DATA_DIRS", m_root.filePath(QStringLiteral("share")));
        set("XDG_CURRENT_DESKTOP", QStringLiteral("Test"));
    }
    ~XdgLayout()
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                qputenv(name, *value);
            else
                qunsetenv(name);
        }
    }
    XdgLayout(const XdgLayout&) = delete;
    XdgLayout& operator=(const XdgLayout&) = delete;

    // Writes `text` at `relative` below the layout's root ("share/applications/x.desktop").
    void write(const QString& relative, const QByteArray& text) const
    {
        const QString path = m_root.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
    }
    // An application entry that takes the types listed ("" for none).
    static QByteArray application(const QByteArray& mimeTypes, bool hidden = false)
    {
        return "[Desktop Entry]\nType=Application\nName=App\nExec=app %u\n"
            + (mimeTypes.isEmpty() ? QByteArray() : "MimeType=" + mimeTypes + "\n")
            + (hidden ? QByteArray("Hidden=true\n") : QByteArray());
    }

private:
    void set(const char* name, const QString& value)
    {
        m_saved.emplace(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        qputenv(name, value.toLocal8Bit());
    }

    QTemporaryDir m_root;
    std::map<const char*, std::optional<QByteArray>> m_saved;
};
