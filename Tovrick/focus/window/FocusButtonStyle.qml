import QtQuick
import QtQuick.Controls.Basic as Basic

// The one button every button of these windows is. Qt's own Press action on a button reports
// success without clicking it, so the press a screen reader or switch device sends clicks here,
// as long as the button is enabled. `available` is the button's own condition and what its look
// follows: a button that only a dialog covers is off without looking so. Return clicks it as Space
// does; the keyboard's focus draws a ring around it (`focusRadius` is its background's corner).
Basic.Button {
    id: button
    property bool available: true
    property real focusRadius: 12
    // Tells the accessibility bus it is off when it is, which Qt Quick's own does not.
    readonly property bool reportsDisabled: true
    enabled: available
    Accessible.onPressAction: if (enabled) clicked()

    function clickByKey(event) {
        event.accepted = true
        if (enabled && !event.isAutoRepeat)
            clicked()
    }
    Keys.onReturnPressed: (event) => clickByKey(event)
    Keys.onEnterPressed: (event) => clickByKey(event)

    // Qt Quick leaves the focus of a button that turns itself off as it acts (a limit reached) on
    // nothing. It goes instead to the nearest control that still takes it: the next of its row, else
    // the one before, else the next in Tab's order, with the ring the button had (`focusMarked`).
    property bool focusMarked: false
    onActiveFocusChanged: {
        if (activeFocus)
            focusMarked = visualFocus
        else if (!available && visible)
            Qt.callLater(handOverFocus)
    }
    onVisualFocusChanged: if (activeFocus) focusMarked = visualFocus
    function handOverFocus() {
        const held = Window.activeFocusItem
        if (enabled || !visible || !Window.window || (held && held.activeFocusOnTab))
            return
        const takes = (item) => item && item !== button && item.visible && item.enabled && item.activeFocusOnTab
        const row = parent ? parent.children : []
        let at = 0
        while (at < row.length && row[at] !== button)
            ++at
        let next = null
        for (let i = at + 1; i < row.length && !next; ++i)
            next = takes(row[i]) ? row[i] : null
        for (let i = at - 1; i >= 0 && !next; --i)
            next = takes(row[i]) ? row[i] : null
        if (!next && takes(nextItemInFocusChain(true)))
            next = nextItemInFocusChain(true)
        if (next)
            next.forceActiveFocus(focusMarked ? Qt.TabFocusReason : Qt.OtherFocusReason)
    }

    FocusMark {
        shown: button.visualFocus
        controlRadius: button.focusRadius
    }
}
