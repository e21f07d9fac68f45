import QtQuick
import QtQuick.Controls.Basic as Basic

// The one button every button of these windows is. Qt's own Press action on a button reports
// success without clicking it, so the press a screen reader or switch device sends clicks here,
// as long as the button is enabled. `available` is the button's own condition and what its look
// follows: a button that only a dialog covers is off without looking so.
Basic.Button {
    property bool available: true
    enabled: available
    Accessible.onPressAction: if (enabled) clicked()
}
