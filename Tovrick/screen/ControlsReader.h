#pragma once

#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <chrono>
#include <optional>

struct Target;
class DisplayGeometry;
class QThreadPool;

// The frontmost application's controls, read through the accessibility bus (AT-SPI). Without a bus,
// without a frontmost application or when the application exposes nothing, the answer is empty:
// missing controls never fail a screen reading.
class ControlsReader {
public:
    // One control: id "C1", "C2", … in the order read; `kind` a short role word ("button",
    // "textfield", …); `label` its name; `rect` in main-display points, top-left origin.
    struct Control {
        QString id;
        QString kind;
        QString label;
        QRectF rect;

        Target target() const;
        friend bool operator==(const Control&, const Control&) = default;
    };

    // The focused element of the frontmost application: its frame when known, whether it takes
    // secret text (a password field, or an element once seen as one, for as long as it exists),
    // and whether that could be told at all. Not `checked`: no
    // bus, no frontmost application, an application that is not on the bus, no answer in time, a
    // call without an answer, or no focused element found; `secure` is then false but means
    // nothing.
    struct FocusedField {
        std::optional<QRectF> frame;
        bool secure = false;
        bool checked = false;
        // An editable text element that is not a password field: typed text goes into it.
        bool editable = false;
        // Where the element is on the bus, to follow the focus from it.
        QString element;
        // When the focus is in a menu or a menu bar: whether the element that had the focus before
        // the menu took it is a password field, as far as the record of the application's focus
        // tells (`unknown` when it does not reach back that far, or that element did not answer).
        // A password field that keeps the focus while its application shows an open menu (a
        // browser's context menu) has `password`.
        enum class Opener { none, plain, password, unknown };
        Opener menuOpener = Opener::none;
        // Not `checked` because the application, on the bus, did not answer in time: it may show
        // anything, a menu over a password field included.
        bool unanswered = false;
    };

    // The element at a point of the screen, in the application whose window takes the pointer
    // there: whether it is, or lies inside, a password field or a menu (a menu bar included). Not
    // `checked`: no window there, an application that is not on the bus, or no answer in time.
    struct Pointed {
        bool checked = false;
        bool secure = false;
        bool menu = false;
        QString element;
        // It or an element around it is text, or holds text a drag from it may carry (a field, a
        // page, a label, a link).
        bool text = false;
    };

    // The one thread that talks to the accessibility bus (its library is not thread-safe).
    static QThreadPool* pool();

    // How long a focused-field check may take, and one of its calls: a starved application answers
    // slowly but answers; a hung one does not.
    static constexpr std::chrono::milliseconds kFieldCheckBound {5000};
    static constexpr std::chrono::milliseconds kCallPatience {2000};

    // The controls read, and whether the walk was cut short (by its time budget, at
    // `kMaxControls`, or by calls the application did not answer, a control's place among them),
    // so that more may exist than were listed. An element that takes typed text is listed as a
    // "textfield" whatever its role.
    struct Reading {
        QList<Control> controls;
        bool cutShort = false;
    };

    // Blocking (round trips to other processes): run on `pool()` only. `pid` is the frontmost
    // application's process id; 0 gives an empty list / no field. Controls outside the main display
    // are left out; at most `kMaxControls`, and the walk gives up after its time budget. Rectangles
    // are converted with the application's own scale: one that lays itself out in larger pixels
    // than the display's (GTK at GDK_SCALE=2) reports its extents in those.
    static Reading read(qint64 pid, const DisplayGeometry& geometry);
    // Asks, in turn, the element the application last said took the focus, the application's own
    // search (the Collection interface) and a walk of the active window's subtree; each answer is
    // read afresh from the application. After a call the application leaves unanswered the look is
    // taken again, each call then waiting longer (up to `kCallPatience`) for a starved application,
    // until the deadline ends the lookup unchecked.
    static FocusedField focusedField(qint64 pid, const DisplayGeometry& geometry,
                                     QDeadlineTimer deadline = QDeadlineTimer(kFieldCheckBound));

    // How long one walk may take; tests shorten it.
    static void setWalkBudget(std::chrono::milliseconds budget);
    static constexpr std::chrono::milliseconds kWalkBudget {1200};

    // The frontmost application's focused field; no display, no frontmost application, no bus or
    // no focused element give no frame and false. Main thread; the lookup runs on `pool()` and
    // answers within `bound` of the call (a little more when the last call answers late), waiting
    // behind a screen reading included.
    static QCoro::Task<FocusedField> focusedFieldIsSecure(std::chrono::milliseconds bound = kFieldCheckBound);

    // Blocking: run on `pool()` only. `point` in main-display points.
    static Pointed elementAt(QPointF point, const DisplayGeometry& geometry,
                             QDeadlineTimer deadline = QDeadlineTimer(kFieldCheckBound));
    // The same from the main thread, answered within `bound` (as the focused-field check).
    static QCoro::Task<Pointed> elementAtPoint(QPointF point, std::chrono::milliseconds bound = kFieldCheckBound);
    // Blocking: run on `pool()` only. Gives the keyboard focus to what a click at `point` lands on:
    // the nearest element from the deepest there up that can take it and that the application then
    // tells has it. False when nothing there said it would take it, or the application did not
    // answer in time.
    static bool focusAt(QPointF point, const DisplayGeometry& geometry,
                        QDeadlineTimer deadline = QDeadlineTimer(kFieldCheckBound));
    // The same from the main thread, answered within `bound`.
    static QCoro::Task<bool> focusAtPoint(QPointF point, std::chrono::milliseconds bound = kFieldCheckBound);

    // What the bus told of the focus since the last focused-field check (a move only when the
    // applications bear it out when asked): nothing that concerns
    // `element`; another element took the focus or `element` lost it (even for a moment); `element`
    // changed its role (a text field turned into a password field) or whether it is editable; or no
    // answer came in time.
    enum class Follow { stays, moved, changed, unknown };
    // Where keys go when no longer to the window of the focused-field check: to another window of
    // an application on the bus, to one whose application can't be checked (off the bus, or of no
    // application), or nowhere.
    enum class KeysGo { toWindow, toUnchecked, nowhere };
    struct Away {
        // That window is gone: its application closed it or quit.
        bool gone = false;
        KeysGo to = KeysGo::toWindow;
    };
    struct Following {
        Following(Follow how = Follow::stays, bool astray = false) : follow(how), keyAstray(astray) {}
        Follow follow;
        // The focus moved, or `element` changed, before `element` told that it took the key sent
        // since the last look: the key may have reached what took the focus, or the element as it
        // is now.
        bool keyAstray;
        // With `keySent`: the text `element` told it took since the focused-field check, as it
        // stands there after the insertions and deletions it told of; none when it has never told
        // of text it took, or told of an edit elsewhere.
        std::optional<QString> took;
        // Keys no longer go to the window of the check, or its application left the bus (`moved`).
        std::optional<Away> away;
    };
    // With `keySent` (a key went to `element` since the last look), the answer waits, up to
    // kKeyLanding, until the element tells that it took text or the focus leaves it, so that no
    // second key goes out while the first one's fate is unknown. An element that never told of text
    // it took is not waited for again. Every answer first asks the display whether keys still go to
    // the window of the check; when a key's landing was not told, also whether the element's
    // application is still on the bus. Main thread; the events are read on `pool()`, behind
    // whatever walk runs there.
    static QCoro::Task<Following> focusStaysOn(QString element, bool keySent = false,
                                               std::chrono::milliseconds timeout = std::chrono::seconds(5));
    static constexpr std::chrono::milliseconds kKeyLanding {2000};
    // The first wait on an element not yet heard to tell of text it took.
    static constexpr std::chrono::milliseconds kFirstLanding {1000};
    // How often the window keys go to is looked at while a key's landing is awaited.
    static constexpr std::chrono::milliseconds kWindowLook {100};

    // Where typed text goes in a text element, as its application tells: how many characters it
    // holds, and the selection that typing replaces (`from` == `to`: the caret).
    struct Held {
        int length = 0;
        int from = 0;
        int to = 0;
    };
    // What `element` (found by the last focused-field check) holds around where typing goes; none
    // when its application does not tell in time. Main thread; the calls run on `pool()`.
    static QCoro::Task<std::optional<Held>> textHeld(QString element);
    // The text `element` holds now where typing went since it held `before`: from the selection's
    // start, as long as the selection was plus what the element's text grew by. None when that
    // can't be told.
    static QCoro::Task<std::optional<QString>> textTyped(QString element, Held before);
    // How many elements seen as password fields are remembered.
    static constexpr int kMaxSecretElements = 256;

    static constexpr int kMaxControls = 200;
};
