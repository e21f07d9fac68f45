import QtQuick

// Texts, fonts and placement come from FocusCountdown; this only lays them out.
Item {
    width: 420
    height: 132

    Text {
        objectName: "modeLabel"
        x: 0
        y: 4
        width: 420
        height: 20
        text: countdown.modeLabel
        Accessible.name: text
        Accessible.ignored: text === ""
        font: countdown.modeFont
        color: "white"
        horizontalAlignment: Text.AlignRight
        verticalAlignment: Text.AlignVCenter
    }

    Text {
        objectName: "countdownLabel"
        x: 0
        y: 24
        width: 420
        height: 108
        text: countdown.label
        Accessible.name: text
        font: countdown.digitsFont
        color: "white"
        horizontalAlignment: Text.AlignRight
        verticalAlignment: Text.AlignVCenter
    }
}
