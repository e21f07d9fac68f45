#include "Tovrick/phone/ServiceBrowser.h"

#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include "shared/util/Log.h"

ServiceBrowser::ServiceBrowser(QObject* parent)
    : QObject(parent)
{
    m_connection.onRunning = [this](AvahiClient* client) { create(client); };
    m_connection.onStopped = [this](const QString&) {
        const bool had = !m_services.isEmpty();
        freeAll();
        if (had)
            changed();
    };
}

ServiceBrowser::~ServiceBrowser()
{
    m_connection.onRunning = nullptr;
    m_connection.onStopped = nullptr;
    freeAll();
}

bool ServiceBrowser::browse(const QByteArray& type)
{
    m_type = type;
    freeAll();
    if (!m_connection.open())
        return false;
    if (AvahiClient* client = m_connection.client())
        create(client);
    return true;
}

void ServiceBrowser::create(AvahiClient* client)
{
    if (m_browser || m_type.isEmpty())
        return;
    m_browser = avahi_service_browser_new(
        client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, m_type.constData(), nullptr, AvahiLookupFlags(0),
        [](AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
           const char* name, const char* type, const char* domain, AvahiLookupResultFlags, void* self) {
            browsed(browser, interface, protocol, event, name, type, domain, self);
        },
        this);
    if (!m_browser)
        logline::warning(QStringLiteral("cannot browse for %1: %2")
                             .arg(QString::fromLatin1(m_type),
                                  QString::fromUtf8(avahi_strerror(avahi_client_errno(client)))));
}

void ServiceBrowser::browsed(AvahiServiceBrowser* browser, int interface, int protocol, int event, const char* name,
                             const char* type, const char* domain, void* self)
{
    auto* that = static_cast<ServiceBrowser*>(self);
    switch (event) {
    case AVAHI_BROWSER_NEW: {
        AvahiServiceResolver* resolver = avahi_service_resolver_new(
            avahi_service_browser_get_client(browser), interface, protocol, name, type, domain, AVAHI_PROTO_UNSPEC,
            AvahiLookupFlags(0),
            [](AvahiServiceResolver* r, AvahiIfIndex i, AvahiProtocol p, AvahiResolverEvent e, const char* n,
               const char*, const char*, const char* host, const AvahiAddress* address, uint16_t port,
               AvahiStringList* txt, AvahiLookupResultFlags, void* s) {
                resolved(r, i, p, e, n, host, address, port, txt, s);
            },
            self);
        if (resolver)
            that->m_resolvers.append(resolver);
        break;
    }
    case AVAHI_BROWSER_REMOVE:
        if (that->m_services.remove(Key { interface, protocol, QString::fromUtf8(name) }) > 0)
            that->changed();
        break;
    default:
        break;
    }
}

void ServiceBrowser::resolved(AvahiServiceResolver* resolver, int interface, int protocol, int event,
                              const char* name, const char* host, const void* address, quint16 port,
                              const void* txt, void* self)
{
    auto* that = static_cast<ServiceBrowser*>(self);
    that->m_resolvers.removeOne(resolver);
    if (event == AVAHI_RESOLVER_FOUND) {
        Service service;
        service.name = QString::fromUtf8(name);
        service.host = QString::fromUtf8(host);
        char text[AVAHI_ADDRESS_STR_MAX] = {};
        avahi_address_snprint(text, sizeof text, static_cast<const AvahiAddress*>(address));
        service.address = QHostAddress(QString::fromLatin1(text));
        service.port = port;
        for (auto* item = static_cast<AvahiStringList*>(const_cast<void*>(txt)); item;
             item = avahi_string_list_get_next(item)) {
            char* key = nullptr;
            char* value = nullptr;
            size_t size = 0;
            if (avahi_string_list_get_pair(item, &key, &value, &size) == 0) {
                service.txt.insert(QByteArray(key), value ? QByteArray(value, static_cast<qsizetype>(size)) : QByteArray());
                avahi_free(key);
                avahi_free(value);
            }
        }
        that->m_services.insert(Key { interface, protocol, service.name }, service);
    }
    avahi_service_resolver_free(resolver);
    if (event == AVAHI_RESOLVER_FOUND)
        that->changed();
}

void ServiceBrowser::freeAll()
{
    for (AvahiServiceResolver* resolver : std::as_const(m_resolvers))
        avahi_service_resolver_free(resolver);
    m_resolvers.clear();
    if (m_browser) {
        avahi_service_browser_free(m_browser);
        m_browser = nullptr;
    }
    m_services.clear();
}

void ServiceBrowser::changed()
{
    if (auto callback = onChange)
        callback();
}
