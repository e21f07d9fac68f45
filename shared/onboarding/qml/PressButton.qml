import QtQuick
import QtQuick.Controls.Basic

// Every button of the flow: dims while pressed and, unless motion is reduced, shrinks a little.
// Disabled buttons look the same; the main button shows it by its fill. Qt's own Press action
// reports success without clicking, so a screen reader's or switch device's press clicks here.
Button {
    id: control
    Accessible.onPressAction: if (enabled) clicked()
    padding: 0
    opacity: control.down ? 0.8 : 1.0
    scale: control.down && !onboarding.reduceMotion ? 0.97 : 1.0
    Behavior on opacity { NumberAnimation { duration: 150; easing.type: Easing.OutQuad } }
    Behavior on scale { NumberAnimation { duration: 150; easing.type: Easing.OutQuad } }
    background: null
}
