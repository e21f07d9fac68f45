import QtQuick
import QtQuick.Controls.Basic as Basic

// The one button every button of these windows is. Qt's own Press action on a button reports
// success without clicking it, so the press a screen reader or switch device sends clicks here,
// as long as the button is enabled. `available` is the button's own condition and what its look
// follows: a button that only a dialog covers is off without looking so. Return clicks it as Space
// does; the keyboard's focus draws a ring around it (`focusRadius` is its background's corner).
// Where the focus goes when it turns off or hides is the window's keeper's to say.
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

    FocusMark {
        shown: button.visualFocus
        controlRadius: button.focusRadius
    }
}
