import QtQuick

// A dialog's keyboard. While `open`, it holds the focus: on opening it moves it to `initialFocus`
// (the first safe control), Tab and Shift+Tab stay among its own controls, Escape emits `cancelled`
// (the caller closes), and on closing the focus goes back to the control that held it before.
// What lies behind must be disabled while it is open, so that the window's Tab chain, which
// skips disabled controls, wraps inside the dialog; focus that still leaves is brought back.
FocusScope {
    id: scope
    property bool open: visible
    property Item initialFocus: null
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
            const back = returnTo
            const reason = returnMarked ? Qt.TabFocusReason : Qt.OtherFocusReason
            Qt.callLater(() => {
                if (!scope.open && back && back.visible && back.enabled)
                    back.forceActiveFocus(reason)
            })
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
