import QtQuick
import QtQuick.Controls.Basic as Basic

// The one button every button of the Sounds screens is. Qt's own Press action on a button reports
// success without clicking it, so the press a screen reader or switch device sends clicks here,
// as long as the button is enabled.
Basic.Button {
    Accessible.onPressAction: if (enabled) clicked()
}
