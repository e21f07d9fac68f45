#pragma once

#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>

#include "Tovrick/phone/AvahiConnection.h"

struct AvahiServiceBrowser;
struct AvahiServiceResolver;

// Finds the services of one DNS-SD type through Avahi and resolves each to an address, port and TXT
// entries. Keeps browsing across daemon restarts.
class ServiceBrowser : public QObject {
    Q_OBJECT

public:
    struct Service {
        QString name;
        QString host;
        QHostAddress address;
        quint16 port = 0;
        QMap<QByteArray, QByteArray> txt;
    };

    explicit ServiceBrowser(QObject* parent = nullptr);
    ~ServiceBrowser() override;

    // False when no Avahi client can be made at all (no system bus); the reason is in error().
    bool browse(const QByteArray& type);
    QList<Service> services() const { return m_services.values(); }
    QString error() const { return m_connection.error(); }

    // Called after a service was resolved or went away.
    std::function<void()> onChange;

private:
    struct Key {
        int interface;
        int protocol;
        QString name;
        bool operator<(const Key& other) const
        {
            return std::tie(interface, protocol, name) < std::tie(other.interface, other.protocol, other.name);
        }
    };

    void create(AvahiClient* client);
    void freeAll();
    static void browsed(AvahiServiceBrowser*, int interface, int protocol, int event, const char* name,
                        const char* type, const char* domain, void* self);
    static void resolved(AvahiServiceResolver* resolver, int interface, int protocol, int event, const char* name,
                         const char* host, const void* address, quint16 port, const void* txt, void* self);
    void changed();

    AvahiConnection m_connection;
    AvahiServiceBrowser* m_browser = nullptr;
    QList<AvahiServiceResolver*> m_resolvers;
    QMap<Key, Service> m_services;
    QByteArray m_type;
};
