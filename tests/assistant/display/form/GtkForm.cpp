// A GTK 3 form, as a user's application would show it: a toolbar whose "Paste into field" pastes
// into the field that has the focus (it takes none itself), a text field, a password field, a second
// text field with a chat field beside it, a slider with an "End" button and a "Show password" toggle
// (the password field turns into a plain text field) beside it, a last text field with a "Delete
// all" button next in the tab order, and a scrolled notes area. Return in the first field moves the focus to the
// password field 0.7 s later, as a two-step sign-in does. Run with GDK_SCALE=2 it lays itself out
// in pixels twice the display's, and reports its accessibility extents in those.
// It says on stdout "WINDOW <id>" and "READY" once shown, then "FOCUS <field>" when a field takes
// the keyboard focus, "TEXT <field> <text>" when a field's text changes, "VALUE <n>" when the
// slider moves, "CLICKED delete" when "Delete all" is pressed, "CLICKED paste" for the toolbar's
// button, "CLICKED pastehere" for "Paste here" (a button that keeps the focus off itself on click and
// pastes into the field that has it), "SCROLLED" when the notes scroll, and
// "MENU <field> shown" / "MENU <field> hidden" when a field's context menu comes up or goes.
// On stdin it takes "FOCUS <field>" (a button too: "delete"), "PING", "CLIP <text>" (puts the text on
// the clipboard), "TURN <field> <ms>" (the field turns into a password field, emptied, after ms),
// "TURNONRETURN <field> <ms>" (the same, that long after the next Return in it: a sign-in that asks
// for the password in the same field), "FLICKER <field> <period> <away>" (every period ms the
// field takes the focus for `away` ms, then gives it back), "TAKEFOCUS <field> <n> <to>" (the key
// that comes once the field holds n characters moves the focus to <to> and goes there, as a page
// that moves the focus while keys are on their way) and "READONLYONRETURN <ms>" (the chat field turns
// read-only that long after its next Return, keeping the focus, as a chat box does while it sends),
// and answers each with "DONE <command>". A field that turns says "SECRET <field>", the chat field
// "READONLY chat", the toggle "SHOWN".
#include <gtk/gtk.h>
#include <gdk/gdkx.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>

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

void reportMenu(GtkWidget* widget, const char* field)
{
    g_signal_connect(widget, "populate-popup", G_CALLBACK(+[](GtkEntry*, GtkWidget* menu, gpointer data) {
                         for (const char* signal : {"map", "unmap"})
                             g_signal_connect(menu, signal, G_CALLBACK(+[](GtkWidget* shown, gpointer name) {
                                                  std::printf("MENU %s %s\n", static_cast<const char*>(name),
                                                              gtk_widget_get_mapped(shown) ? "shown" : "hidden");
                                                  std::fflush(stdout);
                                              }),
                                              data);
                     }),
                     const_cast<char*>(field));
}

std::map<std::string, GtkWidget*> gFields;
// Fields that turn into a password field on their next Return, and after how long.
std::map<GtkWidget*, int> gTurnOnReturn;

// The key that moves the focus on its way.
struct TakeFocus {
    GtkWidget* field = nullptr;
    int after = 0;
    GtkWidget* to = nullptr;
};
TakeFocus gTakeFocus;
int gReadOnlyOnReturn = -1;

gboolean readOnly(gpointer chat)
{
    gtk_editable_set_editable(GTK_EDITABLE(chat), FALSE);
    say("READONLY chat");
    return G_SOURCE_REMOVE;
}

struct Turn {
    GtkWidget* field;
    std::string name;
};

gboolean turnSecret(gpointer data)
{
    auto* turn = static_cast<Turn*>(data);
    gtk_entry_set_text(GTK_ENTRY(turn->field), "");
    gtk_entry_set_visibility(GTK_ENTRY(turn->field), FALSE);
    std::printf("SECRET %s\n", turn->name.c_str());
    std::fflush(stdout);
    delete turn;
    return G_SOURCE_REMOVE;
}

std::string nameOf(GtkWidget* field)
{
    for (const auto& [name, widget] : gFields)
        if (widget == field)
            return name;
    return {};
}

struct Flicker {
    GtkWidget* field = nullptr;
    int away = 0;
    GtkWidget* back = nullptr;
};
Flicker gFlicker;

gboolean flickerBack(gpointer)
{
    if (gFlicker.back)
        gtk_widget_grab_focus(gFlicker.back);
    return G_SOURCE_REMOVE;
}

gboolean flickerAway(gpointer)
{
    GtkWidget* window = gtk_widget_get_toplevel(gFlicker.field);
    gFlicker.back = gtk_window_get_focus(GTK_WINDOW(window));
    if (gFlicker.back == gFlicker.field)
        gFlicker.back = nullptr;
    gtk_widget_grab_focus(gFlicker.field);
    g_timeout_add(static_cast<guint>(gFlicker.away), flickerBack, nullptr);
    return G_SOURCE_CONTINUE;
}

void reportText(GtkWidget* widget, const char* field)
{
    g_signal_connect(widget, "changed", G_CALLBACK(+[](GtkEditable* editable, gpointer data) {
                         std::printf("TEXT %s %s\n", static_cast<const char*>(data), gtk_entry_get_text(GTK_ENTRY(editable)));
                         std::fflush(stdout);
                     }),
                     const_cast<char*>(field));
}

gboolean command(GIOChannel* channel, GIOCondition, gpointer)
{
    gchar* line = nullptr;
    if (g_io_channel_read_line(channel, &line, nullptr, nullptr, nullptr) != G_IO_STATUS_NORMAL || !line)
        return G_SOURCE_REMOVE;
    g_strchomp(line);
    char name[32] = {};
    int first = 0;
    int second = 0;
    char to[32] = {};
    if (std::strncmp(line, "FOCUS ", 6) == 0) {
        if (const auto found = gFields.find(line + 6); found != gFields.end())
            gtk_widget_grab_focus(found->second);
    } else if (std::strncmp(line, "CLIP ", 5) == 0) {
        gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), line + 5, -1);
    } else if (std::sscanf(line, "TURN %31s %d", name, &first) == 2 && gFields.count(name)) {
        g_timeout_add(static_cast<guint>(first), turnSecret, new Turn {gFields[name], name});
    } else if (std::sscanf(line, "TURNONRETURN %31s %d", name, &first) == 2 && gFields.count(name)) {
        gTurnOnReturn[gFields[name]] = first;
    } else if (std::sscanf(line, "FLICKER %31s %d %d", name, &first, &second) == 3 && gFields.count(name)) {
        gFlicker.field = gFields[name];
        gFlicker.away = second;
        g_timeout_add(static_cast<guint>(first), flickerAway, nullptr);
    } else if (std::sscanf(line, "TAKEFOCUS %31s %d %31s", name, &first, to) == 3 && gFields.count(name)
               && gFields.count(to)) {
        gTakeFocus = TakeFocus {gFields[name], first, gFields[to]};
    } else if (std::sscanf(line, "READONLYONRETURN %d", &first) == 1) {
        gtk_editable_set_editable(GTK_EDITABLE(gFields["chat"]), TRUE);
        gReadOnlyOnReturn = first;
    }
    std::printf("DONE %s\n", line);
    std::fflush(stdout);
    g_free(line);
    return G_SOURCE_CONTINUE;
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

    GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window), outer);
    // A toolbar's button leaves the focus where it is, and pastes into the field that has it.
    GtkWidget* toolbar = gtk_toolbar_new();
    gtk_toolbar_set_style(GTK_TOOLBAR(toolbar), GTK_TOOLBAR_TEXT);
    GtkToolItem* paste = gtk_tool_button_new(nullptr, "Paste into field");
    gtk_toolbar_insert(GTK_TOOLBAR(toolbar), paste, -1);
    g_signal_connect(paste, "clicked", G_CALLBACK(+[](GtkToolButton* button, gpointer) {
                         say("CLICKED paste");
                         GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(gtk_widget_get_toplevel(GTK_WIDGET(button))));
                         if (focus && GTK_IS_EDITABLE(focus))
                             gtk_editable_paste_clipboard(GTK_EDITABLE(focus));
                     }),
                     nullptr);
    gtk_box_pack_start(GTK_BOX(outer), toolbar, FALSE, FALSE, 0);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(box), 16);
    gtk_box_pack_start(GTK_BOX(outer), box, TRUE, TRUE, 0);

    GtkWidget* first = gtk_entry_new();
    named(first, "First field");
    GtkWidget* password = gtk_entry_new();
    gtk_entry_set_visibility(GTK_ENTRY(password), FALSE);
    named(password, "Password field");
    GtkWidget* second = gtk_entry_new();
    named(second, "Second field");
    GtkWidget* show = gtk_check_button_new_with_label("Show password");
    g_signal_connect(show, "toggled", G_CALLBACK(+[](GtkToggleButton* toggle, gpointer field) {
                         gtk_entry_set_visibility(GTK_ENTRY(field), gtk_toggle_button_get_active(toggle));
                         say("SHOWN");
                     }),
                     password);
    GtkWidget* chat = gtk_entry_new();
    named(chat, "Chat field");
    for (GtkWidget* field : { first, password, second, chat })
        gtk_widget_set_size_request(field, 320, -1);
    gtk_box_pack_start(GTK_BOX(box), first, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), password, FALSE, FALSE, 0);
    GtkWidget* secondRow = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_box_pack_start(GTK_BOX(secondRow), second, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(secondRow), chat, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), secondRow, FALSE, FALSE, 0);
    reportFocus(chat, "chat");
    reportText(chat, "chat");
    g_signal_connect(chat, "activate", G_CALLBACK(+[](GtkEntry* entry, gpointer) {
                         if (gReadOnlyOnReturn == 0)
                             readOnly(entry);
                         else if (gReadOnlyOnReturn > 0)
                             g_timeout_add(static_cast<guint>(gReadOnlyOnReturn), readOnly, entry);
                         gReadOnlyOnReturn = -1;
                     }),
                     nullptr);
    // Before the field's own handling: the key goes to where the focus is moved.
    for (GtkWidget* field : { first, second, chat })
        g_signal_connect(field, "key-press-event", G_CALLBACK(+[](GtkWidget* widget, GdkEvent* event, gpointer) -> gboolean {
                             if (widget != gTakeFocus.field
                                 || static_cast<int>(gtk_entry_get_text_length(GTK_ENTRY(widget))) < gTakeFocus.after)
                                 return FALSE;
                             GtkWidget* to = std::exchange(gTakeFocus, TakeFocus {}).to;
                             gtk_widget_grab_focus(to);
                             gtk_widget_event(to, event);
                             return TRUE;
                         }),
                         nullptr);
    reportFocus(first, "first");
    reportFocus(password, "password");
    reportFocus(second, "second");
    reportText(first, "first");
    reportText(password, "password");
    reportMenu(first, "first");
    reportMenu(password, "password");
    gFields = {{"first", first}, {"password", password}, {"second", second}, {"chat", chat}};
    g_signal_connect(first, "activate", G_CALLBACK(+[](GtkEntry* entry, gpointer field) {
                         if (const auto turns = gTurnOnReturn.find(GTK_WIDGET(entry)); turns != gTurnOnReturn.end()) {
                             g_timeout_add(static_cast<guint>(turns->second), turnSecret,
                                           new Turn {GTK_WIDGET(entry), nameOf(GTK_WIDGET(entry))});
                             gTurnOnReturn.erase(turns);
                             return;
                         }
                         g_timeout_add(700, +[](gpointer late) {
                             gtk_widget_grab_focus(GTK_WIDGET(late));
                             return G_SOURCE_REMOVE;
                         }, field);
                     }),
                     password);

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
    gtk_box_pack_start(GTK_BOX(row), show, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);

    GtkWidget* lastRow = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    GtkWidget* last = gtk_entry_new();
    named(last, "Last field");
    reportFocus(last, "last");
    reportText(last, "last");
    reportMenu(last, "last");
    gFields["last"] = last;
    GtkWidget* clear = gtk_button_new_with_label("Delete all");
    gFields["delete"] = clear;
    g_signal_connect(clear, "clicked", G_CALLBACK(+[](GtkButton*, gpointer) { say("CLICKED delete"); }), nullptr);
    gtk_box_pack_start(GTK_BOX(lastRow), last, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(lastRow), clear, FALSE, FALSE, 0);
    // A button that keeps the focus off itself on click, and pastes where it is.
    GtkWidget* pasteHere = gtk_button_new_with_label("Paste here");
    gtk_widget_set_focus_on_click(pasteHere, FALSE);
    g_signal_connect(pasteHere, "clicked", G_CALLBACK(+[](GtkButton* button, gpointer) {
                         say("CLICKED pastehere");
                         GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(gtk_widget_get_toplevel(GTK_WIDGET(button))));
                         if (focus && GTK_IS_EDITABLE(focus))
                             gtk_editable_paste_clipboard(GTK_EDITABLE(focus));
                     }),
                     nullptr);
    gtk_box_pack_start(GTK_BOX(lastRow), pasteHere, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), lastRow, FALSE, FALSE, 0);

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

    GIOChannel* input = g_io_channel_unix_new(0);
    g_io_add_watch(input, G_IO_IN, command, nullptr);

    gtk_widget_show_all(window);
    // Once the first frame is up and the accessibility bridge has had a moment to register.
    g_timeout_add(500, shown, window);
    gtk_main();
    return 0;
}
