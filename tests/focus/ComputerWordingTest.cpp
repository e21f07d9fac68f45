#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "focus/FocusWindowWorld.h"

namespace {

void collectTexts(QQuickItem* item, QStringList& texts)
{
    const QString text = item->property("text").toString();
    if (!text.isEmpty())
        texts.append(text);
    for (QQuickItem* child : item->childItems())
        collectTexts(child, texts);
}

} // namespace

// The window speaks of the computer it runs on: no page, hidden part or confirmation names a Mac, its
// settings or its keys.
TEST(FocusWindowWording, NamesThisComputerAndNoMacOrItsPlaces)
{
    FocusWindowWorld w;
    w.account.adoptSession(focusWindowSession(QStringLiteral("user-1")));
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    MacFocusPanel panel {&w.account, &w.access};
    panel.setVisionLibrary(w.vision);
    panel.show(*w.engine, [] {});
    panel.view()->setConfirmDelete(true);

    QStringList texts;
    for (int page = 0; page < focusPage::count; ++page) {
        panel.view()->selectPage(page);
        collectTexts(panel.window()->rootObject(), texts);
    }
    const QRegularExpression mac(QStringLiteral("\\bMac\\b|macOS|Screen Recording|System Settings|menu bar|[⌘⌥⌃]"));
    for (const QString& text : texts)
        EXPECT_FALSE(text.contains(mac)) << text.toStdString();

    for (const char* sentence :
         {"This permanently deletes your account and its personal sound recordings on this computer. You can sign "
          "out instead to keep them.",
          "Only on this computer \u00B7 up to 20 images \u00B7 never sent to AI",
          "Pause or end your session to stop sharing. Locking or sleeping your computer also pauses monitoring. "
          "Resume when you\u2019re ready.",
          "While a session is running, your main display is sent to Tovrick\u2019s AI service every 30 seconds to "
          "check how it relates to your task. Access to the X11 display is required."})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(sentence))) << sentence;
}
