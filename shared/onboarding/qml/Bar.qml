import QtQuick

// A thin linear progress bar.
Rectangle {
    property real value: 0
    height: 4
    radius: 2
    color: Qt.rgba(1, 1, 1, 0.18)
    Rectangle {
        width: parent.width * Math.max(0, Math.min(1, parent.value))
        height: parent.height
        radius: 2
        color: "#4285FF"
        Behavior on width { NumberAnimation { duration: onboarding.reduceMotion ? 0 : 250; easing.type: Easing.OutQuad } }
    }
}
