#include <gtest/gtest.h>

#include <QProcess>

#include <functional>

#pragma push_macro("signals")
#undef signals
#include <atspi/atspi.h>
#pragma pop_macro("signals")

#include "Tovrick/assistant/ComputerActions.h"
#include "Tovrick/assistant/HostTools.h"
#include "Tovrick/screen/AccessibilityBus.h"
#include "Tovrick/screen/ComputerControl.h"
#include "Tovrick/screen/X11Display.h"
#include "assistant/PointingFakes.h"
#include "assistant/display/DesktopParts.h"
#include "support/RunTask.h"

namespace {

// The GTK 4 form: its toolkit answers no lookup at a point, so where a drop lands can't be told.
class Gtk4FormDrop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(gtk4.start(1)) << gtk4.seen.join('\n').toStdString();
        const quint64 window = gtk4.window;
        activate(window);
        // The fields as the bus tells them; this toolkit tells their places from its window's corner.
        const qint64 pid = gtk4.process.processId();
        const auto listed = [&] { return fields.contains(QStringLiteral("Name")) && fields.contains(QStringLiteral("Secret")); };
        const QDeadlineTimer deadline(std::chrono::seconds(30));
        do
            fields = onReaderThread([pid] { return fieldsOf(pid); });
        while (!listed() && !deadline.hasExpired());
        ASSERT_TRUE(listed())
            << "the form's fields never showed on the accessibility bus";
        const QList<X11Display::PlacedWindow> windows = X11Display().windowsOf(pid);
        ASSERT_FALSE(windows.isEmpty());
        const QRectF client(windows.front().client);
        for (QRectF& rect : fields)
            rect.translate(client.topLeft());
        actions = std::make_unique<ComputerActions>(world.pointing, desktopPorts(control));
    }
    void TearDown() override
    {
        activate(0);
        gtk4.stop();
    }

    // The text fields of the application `pid` by name, where it says they are.
    static QMap<QString, QRectF> fieldsOf(qint64 pid)
    {
        QMap<QString, QRectF> found;
        // On the reader's thread, started as the reader starts it.
        static const bool started = startAccessibilityBus(g_main_context_new());
        if (!started)
            return found;
        AtspiAccessible* desktop = atspi_get_desktop(0);
        const std::function<void(AtspiAccessible*, int)> visit = [&](AtspiAccessible* node, int depth) {
            const AtspiRole role = atspi_accessible_get_role(node, nullptr);
            if (role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_PASSWORD_TEXT || role == ATSPI_ROLE_ENTRY) {
                gchar* name = atspi_accessible_get_name(node, nullptr);
                AtspiComponent* component = atspi_accessible_get_component_iface(node);
                AtspiRect* rect = component ? atspi_component_get_extents(component, ATSPI_COORD_TYPE_WINDOW, nullptr) : nullptr;
                if (name && rect)
                    found[QString::fromUtf8(name)] = QRectF(rect->x, rect->y, rect->width, rect->height);
                g_free(rect);
                if (component)
                    g_object_unref(component);
                g_free(name);
            }
            const gint count = depth < 12 ? atspi_accessible_get_child_count(node, nullptr) : 0;
            for (gint i = 0; i < count; ++i)
                if (AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr)) {
                    visit(child, depth + 1);
                    g_object_unref(child);
                }
        };
        const gint apps = desktop ? atspi_accessible_get_child_count(desktop, nullptr) : 0;
        for (gint i = 0; i < apps; ++i)
            if (AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr)) {
                if (atspi_accessible_get_process_id(app, nullptr) == static_cast<guint>(pid))
                    visit(app, 0);
                g_object_unref(app);
            }
        if (desktop)
            g_object_unref(desktop);
        return found;
    }
    static QString grid(const char* end, QPointF at)
    {
        return QStringLiteral(R"("%1_x": %2, "%1_y": %3)")
            .arg(QLatin1String(end))
            .arg(at.x() * 1000.0 / 1920.0, 0, 'f', 4)
            .arg(at.y() * 1000.0 / 1080.0, 0, 'f', 4);
    }

    Gtk4Form gtk4;
    QMap<QString, QRectF> fields;
    PointingWorld world;
    ComputerControl control;
    std::unique_ptr<ComputerActions> actions;
};

TEST_F(Gtk4FormDrop, SelectedTextIsNotDroppedWhereTheToolkitCannotTellWhatLiesThere)
{
    ASSERT_TRUE(gtk4.command(QStringLiteral("SELECT Name hunter2")));
    const QRectF name = fields.value(QStringLiteral("Name"));
    const QPointF from(name.left() + 20, name.center().y());
    const QString arguments = QLatin1Char('{') + grid("from", from) + QStringLiteral(", ")
        + grid("to", fields.value(QStringLiteral("Secret")).center()) + QLatin1Char('}');
    EXPECT_EQ(runTask(actions->handle(QStringLiteral("drag"), toolargs::parse(arguments), {}), std::chrono::seconds(60)).text,
              ComputerActions::couldNotCheckDrop());
    ASSERT_TRUE(gtk4.command(QStringLiteral("PING")));
    EXPECT_TRUE(gtk4.seen.filter(QStringLiteral("TEXT Secret")).isEmpty()) << gtk4.seen.join('\n').toStdString();
}

} // namespace
