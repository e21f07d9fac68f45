// A GTK 3 form, as a user's application would show it: a text field, a password field, a second
// text field, a slider with a button beside it and a scrolled notes area. Run with GDK_SCALE=2 it
// lays itself out in pixels twice the display's, and reports its accessibility extents in those.
// It says on stdout "WINDOW <id>" and "READY" once shown, then "FOCUS <field>" when a field takes
// the keyboard focus, "VALUE <n>" when the slider moves and "SCROLLED" when the notes scroll.
#include <gtk/gtk.h>
#include <gdk/gdkx.h>

#include <cstdio>
#include <initializer_list>

namespace {

void say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

void named(GtkWidget* widget, const char* name)
{
    atk_object_set_name(gtk_widget_get_accessible(widget), name);
}

void reportFocus(GtkWidget* widget, const char* field)
{
    g_signal_connect(widget, "notify::is-focus", G_CALLBACK(+[](GtkWidget* w, GParamSpec*, gpointer data) {
                         if (gtk_widget_is_focus(w)) {
                             char line[64];
                             std::snprintf(line, sizeof line, "FOCUS %s", static_cast<const char*>(data));
                             say(line);
                         }
                     }),
                     const_cast<char*>(field));
}

gboolean shown(gpointer window)
{
    char line[64];
    std::snprintf(line, sizeof line, "WINDOW %lu",
                  static_cast<unsigned long>(gdk_x11_window_get_xid(gtk_widget_get_window(GTK_WIDGET(window)))));
    say(line);
    say("READY");
    return G_SOURCE_REMOVE;
}

} // namespace

int main(int argc, char** argv)
{
    gtk_init(&argc, &argv);
    // Holding a slider still for half a second turns on GTK's fine-tuning, where a drag moves it
    // only a little. A loaded machine can delay the drag's first motion that long, and what is
    // tested here is where a drag lands, not how long GTK waits before fine-tuning.
    g_object_set(gtk_settings_get_default(), "gtk-long-press-time", 60000, nullptr);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Form");
    gtk_window_move(GTK_WINDOW(window), 150, 120);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(box), 16);
    gtk_container_add(GTK_CONTAINER(window), box);

    GtkWidget* first = gtk_entry_new();
    named(first, "First field");
    GtkWidget* password = gtk_entry_new();
    gtk_entry_set_visibility(GTK_ENTRY(password), FALSE);
    named(password, "Password field");
    GtkWidget* second = gtk_entry_new();
    named(second, "Second field");
    for (GtkWidget* field : { first, password, second }) {
        gtk_widget_set_size_request(field, 320, -1);
        gtk_box_pack_start(GTK_BOX(box), field, FALSE, FALSE, 0);
    }
    reportFocus(first, "first");
    reportFocus(password, "password");
    reportFocus(second, "second");

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    GtkWidget* slider = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 100, 1);
    gtk_scale_set_draw_value(GTK_SCALE(slider), FALSE);
    gtk_widget_set_size_request(slider, 220, -1);
    named(slider, "Volume");
    g_signal_connect(slider, "value-changed", G_CALLBACK(+[](GtkRange* range, gpointer) {
                         char line[64];
                         std::snprintf(line, sizeof line, "VALUE %d", static_cast<int>(gtk_range_get_value(range)));
                         say(line);
                     }),
                     nullptr);
    GtkWidget* end = gtk_button_new_with_label("End");
    gtk_box_pack_start(GTK_BOX(row), slider, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), end, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);

    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_widget_set_size_request(scrolled, 320, 120);
    GtkWidget* notes = gtk_text_view_new();
    named(notes, "Notes");
    GString* text = g_string_new(nullptr);
    for (int i = 1; i <= 200; ++i)
        g_string_append_printf(text, "Note line %d\n", i);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(notes)), text->str, -1);
    g_string_free(text, TRUE);
    gtk_container_add(GTK_CONTAINER(scrolled), notes);
    gtk_box_pack_start(GTK_BOX(box), scrolled, FALSE, FALSE, 0);
    g_signal_connect(gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled)), "value-changed",
                     G_CALLBACK(+[](GtkAdjustment*, gpointer) { say("SCROLLED"); }), nullptr);

    gtk_widget_show_all(window);
    // Once the first frame is up and the accessibility bridge has had a moment to register.
    g_timeout_add(500, shown, window);
    gtk_main();
    return 0;
}
