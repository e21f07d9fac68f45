#pragma once

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

// The user's preferences, read through one shared instance. Booleans are stored as text by the INI
// backend, so they are read explicitly: a stored value that is not a boolean counts as absent.
class Settings : public QObject {
    Q_OBJECT

public:
    static Settings& shared();
    // Tests (and the command-line checks) keep their preferences in a file of their own.
    static void useFile(const QString& iniPath);

    std::optional<bool> boolValue(const QString& key) const;
    void setBool(const QString& key, bool value);
    std::optional<QString> stringValue(const QString& key) const;
    void setString(const QString& key, const QString& value);
    std::optional<double> numberValue(const QString& key) const;
    void setNumber(const QString& key, double value);
    // A list of texts; none when the stored value is not a list of texts.
    std::optional<QStringList> stringList(const QString& key) const;
    void setStringList(const QString& key, const QStringList& value);
    // Raw bytes; none when the stored value is not bytes or text.
    std::optional<QByteArray> bytesValue(const QString& key) const;
    void setBytes(const QString& key, const QByteArray& value);
    bool contains(const QString& key) const;
    void remove(const QString& key);
    void sync();

    // "followMouse": true when unset.
    bool followMouse() const;
    // "computerControl": true when absent or not a boolean.
    bool computerControl() const;
    void setComputerControl(bool on);

signals:
    void changed(const QString& key);

private:
    explicit Settings(std::unique_ptr<QSettings> store);
    std::unique_ptr<QSettings> m_store;
};
