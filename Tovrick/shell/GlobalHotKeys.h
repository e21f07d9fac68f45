#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>

#include <functional>

#include "Tovrick/shell/StatusMenu.h"

class QSocketNotifier;
struct _XDisplay;

// Global key combinations, grabbed on the root window over a connection of our own (Qt's may be
// another platform's), with the NumLock and CapsLock variants so that either lock leaves them working.
// A combination another program already holds is logged once and left out; the rest still work.
class GlobalHotKeys : public QObject {
    Q_OBJECT

public:
    // `display` empty: the one $DISPLAY names.
    GlobalHotKeys(std::function<void(ShellAction)> pressed, const QByteArray& display = {}, QObject* parent = nullptr);
    // Releases every grab.
    ~GlobalHotKeys() override;

    // Grabs the keys; answers those that are now ours. Without a display: none, and one log line.
    QList<HotKey> grab(const QList<HotKey>& keys);
    void release();
    const QList<HotKey>& grabbed() const { return m_grabbedKeys; }

private:
    struct Grab {
        HotKey key;
        int keycode = 0;
    };

    void readEvents();
    QList<unsigned> lockVariants() const;

    std::function<void(ShellAction)> m_pressed;
    _XDisplay* m_display = nullptr;
    QSocketNotifier* m_notifier = nullptr;
    QList<Grab> m_grabs;
    QList<HotKey> m_grabbedKeys;
    // Keys held down: the auto-repeat of a held combination is one press, not many.
    QSet<int> m_down;
    unsigned m_numLock = 0;
};
