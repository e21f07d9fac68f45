#include "app/display/BusEvents.h"

#include "app/display/BusPress.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>

#include <memory>
#include <unistd.h>

#pragma push_macro("signals")
#undef signals
#include <atspi/atspi.h>
#pragma pop_macro("signals")

namespace {

const char* const kNameChange = "object:property-change:accessible-name";

QString ownString(gchar* text)
{
    const QString result = QString::fromUtf8(text ? text : "");
    g_free(text);
    return result;
}

// The marks' object: an accessible object of no window that only changes its name.
class Mark : public QObject, public QAccessibleInterface {
public:
    QString name;
    bool isValid() const override { return true; }
    QObject* object() const override { return const_cast<Mark*>(this); }
    QWindow* window() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(qApp); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override { return t == QAccessible::Name ? name : QString(); }
    void setText(QAccessible::Text, const QString&) override { }
    QRect rect() const override { return {}; }
    QAccessible::Role role() const override { return QAccessible::StaticText; }
    QAccessible::State state() const override { return {}; }
};

} // namespace

struct BusEventLog::Listener {
    BusEventLog* log = nullptr;
    AtspiEventListener* listener = nullptr;
};

BusEventLog::BusEventLog(const QStringList& types) : m_types(types)
{
    if (!m_types.contains(QString::fromLatin1(kNameChange)))
        m_types << QString::fromLatin1(kNameChange);
    m_listener = new Listener { this, nullptr };
    onBusThread([this] {
        m_listener->listener = atspi_event_listener_new(
            [](AtspiEvent* event, void* data) {
                auto* self = static_cast<BusEventLog::Listener*>(data);
                AtspiAccessible* source = event->source;
                AtspiAccessible* app = source ? atspi_accessible_get_application(source, nullptr) : nullptr;
                const bool own = app && atspi_accessible_get_process_id(app, nullptr) == static_cast<guint>(getpid());
                if (app)
                    g_object_unref(app);
                if (own) {
                    BusEvent out;
                    out.type = QString::fromUtf8(event->type);
                    out.detail = event->detail1;
                    if (out.type == QLatin1String(kNameChange) && G_VALUE_HOLDS_STRING(&event->any_data))
                        out.source = QString::fromUtf8(g_value_get_string(&event->any_data));
                    else if (source)
                        out.source = ownString(atspi_accessible_get_name(source, nullptr));
                    self->log->m_events.push_back(out);
                }
                g_boxed_free(ATSPI_TYPE_EVENT, event);
            },
            m_listener, nullptr);
        for (const QString& type : m_types)
            atspi_event_listener_register(m_listener->listener, type.toUtf8().constData(), nullptr);
    });
    // Qt's bridge sends an event only once it has heard of a listener for it.
    catchUp();
    clear();
}

BusEventLog::~BusEventLog()
{
    onBusThread([this] {
        for (const QString& type : m_types)
            atspi_event_listener_deregister(m_listener->listener, type.toUtf8().constData(), nullptr);
        g_object_unref(m_listener->listener);
    });
    delete m_listener;
}

bool BusEventLog::waitFor(const std::function<bool(const std::vector<BusEvent>&)>& done,
                          std::chrono::milliseconds timeout)
{
    bool held = false;
    onBusThread([&] { held = turnBusUntil([&] { return done(m_events); }, timeout); });
    return held;
}

bool BusEventLog::catchUp()
{
    static Mark* const mark = new Mark;
    const size_t before = m_events.size();
    const auto sawMark = [&](const std::vector<BusEvent>& events) {
        for (size_t n = before; n < events.size(); ++n)
            if (events[n].type == QLatin1String(kNameChange) && events[n].source == mark->name)
                return true;
        return false;
    };
    // Until the bridge has heard of the listener a mark goes unsent: ask again, each time with a
    // new name, the wait for each bounded.
    for (int attempt = 0; attempt < 40; ++attempt) {
        mark->name = QStringLiteral("bus mark %1").arg(++m_marks);
        QAccessibleEvent changed(static_cast<QAccessibleInterface*>(mark), QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
        if (waitFor(sawMark, std::chrono::milliseconds(500))) {
            std::erase_if(m_events, [&](const BusEvent& e) { return e.source.startsWith(QLatin1String("bus mark")); });
            return true;
        }
    }
    return false;
}
