import QtQuick
import Tovrick.Ui 1.0

// A dialog's keyboard. While `open`, it holds the focus: on opening it moves it to `initialFocus`
// (the first safe control), Tab and Shift+Tab stay among its own controls, Escape emits `cancelled`
// (the caller closes), and on closing the focus goes back to `opener`, else to the control that
// held it before, through the window's keeper.
// What lies behind must be disabled while it is open, so that the window's Tab chain, which
// skips disabled controls, wraps inside the dialog; focus that still leaves is brought back.
FocusScope {
    id: scope
    property bool open: visible
    property Item initialFocus: null
    // The control that opens it. A screen reader's Press opens it without moving the focus there,
    // so what last had the focus is not always what the user acted on.
    property Item opener: null
    signal cancelled()

    // The last control outside that had the focus while closed, and whether it showed its mark.
    property Item returnTo: null
    property bool returnMarked: false

    function contains(item) {
        for (let it = item; it; it = it.parent)
            if (it === scope)
                return true
        return false
    }
    function takeFocus() {
        const target = initialFocus ? initialFocus : scope
        target.forceActiveFocus(Qt.TabFocusReason)
    }

    Keys.onEscapePressed: (event) => {
        event.accepted = true
        scope.cancelled()
    }

    onOpenChanged: {
        if (open) {
            // After the bindings that disable what lies behind have run.
            Qt.callLater(() => { if (scope.open) scope.takeFocus() })
        } else {
            // The window's keeper puts it back once what lay behind takes the focus again: on
            // `opener`, else on what had it before, with its ring unless that was clicked.
            const back = scope.opener ? scope.opener : scope.returnTo
            if (back)
                FocusKeeper.giveBack(back, back !== scope.returnTo || scope.returnMarked)
        }
    }

    Connections {
        target: scope.Window.window
        function onActiveFocusItemChanged() {
            const item = scope.Window.activeFocusItem
            if (!item)
                return
            if (!scope.open) {
                if (item.activeFocusOnTab && !scope.contains(item)) {
                    scope.returnTo = item
                    scope.returnMarked = item.visualFocus === true
                }
            } else if (!scope.contains(item) && item.activeFocusOnTab) {
                scope.takeFocus()
            }
        }
    }
}
