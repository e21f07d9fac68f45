#include "Tovrick/phone/ServicePublisher.h"

#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include "shared/util/Log.h"

ServicePublisher::ServicePublisher(QObject* parent)
    : QObject(parent)
{
    m_connection.onRunning = [this](AvahiClient* client) { create(client); };
    m_connection.onStopped = [this](const QString& why) {
        freeGroup();
        if (m_wanted)
            logline::info(QStringLiteral("phone link is not advertised: %1").arg(why));
    };
}

ServicePublisher::~ServicePublisher()
{
    m_connection.onRunning = nullptr;
    m_connection.onStopped = nullptr;
    freeGroup();
}

bool ServicePublisher::publish(const QString& name, const QByteArray& type, quint16 port, const TxtRecord& txt)
{
    m_name = name;
    m_type = type;
    m_port = port;
    m_txt = txt;
    m_wanted = true;
    freeGroup();
    if (!m_connection.open())
        return false;
    // A client that is running already does not call back again; create() skips a group in place.
    if (AvahiClient* client = m_connection.client())
        create(client);
    return true;
}

void ServicePublisher::withdraw()
{
    m_wanted = false;
    freeGroup();
}

void ServicePublisher::create(AvahiClient* client)
{
    if (!m_wanted || m_group)
        return;
    m_group = avahi_entry_group_new(
        client, [](AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) { groupChanged(group, state, self); },
        this);
    if (!m_group) {
        logline::warning(QStringLiteral("phone link is not advertised: %1")
                             .arg(QString::fromUtf8(avahi_strerror(avahi_client_errno(client)))));
        return;
    }
    AvahiStringList* strings = nullptr;
    for (const auto& [key, value] : m_txt)
        strings = avahi_string_list_add_pair_arbitrary(strings, key.constData(),
                                                       reinterpret_cast<const uint8_t*>(value.constData()),
                                                       static_cast<size_t>(value.size()));
    int result = avahi_entry_group_add_service_strlst(m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                      AvahiPublishFlags(0), m_name.toUtf8().constData(),
                                                      m_type.constData(), nullptr, nullptr, m_port, strings);
    avahi_string_list_free(strings);
    if (result == AVAHI_ERR_COLLISION) {
        // The name is taken locally already: take the next one and try again.
        char* next = avahi_alternative_service_name(m_name.toUtf8().constData());
        m_name = QString::fromUtf8(next);
        avahi_free(next);
        freeGroup();
        create(client);
        return;
    }
    if (result >= 0)
        result = avahi_entry_group_commit(m_group);
    if (result < 0) {
        logline::warning(QStringLiteral("phone link is not advertised: %1").arg(QString::fromUtf8(avahi_strerror(result))));
        freeGroup();
    }
}

void ServicePublisher::groupChanged(AvahiEntryGroup* group, int state, void* self)
{
    auto* publisher = static_cast<ServicePublisher*>(self);
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        logline::info(QStringLiteral("phone link advertised as \"%1\"").arg(publisher->m_name));
        publisher->setPublished(true);
        break;
    case AVAHI_ENTRY_GROUP_COLLISION: {
        // Someone on the network has this name: move to the next one.
        char* next = avahi_alternative_service_name(publisher->m_name.toUtf8().constData());
        publisher->m_name = QString::fromUtf8(next);
        avahi_free(next);
        publisher->setPublished(false);
        avahi_entry_group_reset(group);
        AvahiClient* client = avahi_entry_group_get_client(group);
        // The group is still ours; drop it once this callback is over and build it again.
        QMetaObject::invokeMethod(
            publisher,
            [publisher, client] {
                if (publisher->m_connection.client() != client)
                    return;
                publisher->freeGroup();
                publisher->create(client);
            },
            Qt::QueuedConnection);
        break;
    }
    case AVAHI_ENTRY_GROUP_FAILURE:
        logline::warning(QStringLiteral("phone link is not advertised: %1")
                             .arg(QString::fromUtf8(
                                 avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))))));
        publisher->setPublished(false);
        break;
    default:
        break;
    }
}

void ServicePublisher::freeGroup()
{
    if (m_group) {
        avahi_entry_group_free(m_group);
        m_group = nullptr;
    }
    setPublished(false);
}

void ServicePublisher::setPublished(bool published)
{
    if (m_published == published)
        return;
    m_published = published;
    if (auto callback = onPublishedChanged)
        callback(published);
}
