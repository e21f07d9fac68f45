#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <functional>

#include "Tovrick/phone/AvahiConnection.h"

struct AvahiEntryGroup;

// Keeps one DNS-SD service published through Avahi: after the daemon starts, restarts or renames the
// host, and under another name when someone else on the network has ours.
class ServicePublisher : public QObject {
    Q_OBJECT

public:
    using TxtRecord = QList<QPair<QByteArray, QByteArray>>;

    explicit ServicePublisher(QObject* parent = nullptr);
    ~ServicePublisher() override;

    // False when no Avahi client can be made at all (no system bus); the reason is in error().
    bool publish(const QString& name, const QByteArray& type, quint16 port, const TxtRecord& txt);
    void withdraw();

    bool isPublished() const { return m_published; }
    QString name() const { return m_name; }
    QString error() const { return m_connection.error(); }

    // Called when the service becomes visible on the network or stops being so.
    std::function<void(bool published)> onPublishedChanged;

private:
    void create(AvahiClient* client);
    void freeGroup();
    void setPublished(bool published);
    static void groupChanged(AvahiEntryGroup* group, int state, void* self);

    AvahiConnection m_connection;
    AvahiEntryGroup* m_group = nullptr;
    QString m_name;
    QByteArray m_type;
    quint16 m_port = 0;
    TxtRecord m_txt;
    bool m_wanted = false;
    bool m_published = false;
};
