import QtQuick

// Cards of an emoji and a line each; with `reveals` a card fades in and rises as the page task
// reveals it.
Column {
    id: list
    property var items: []
    property bool reveals: false
    property bool compact: false
    width: parent ? parent.width : 0
    spacing: compact ? 8 : 12

    Repeater {
        model: list.items
        Rectangle {
            id: card
            readonly property bool shown: !list.reveals || onboarding.revealed > index
            objectName: "infoCard" + index
            width: list.width
            height: Math.max(list.compact ? 64 : 78, line.implicitHeight + (list.compact ? 24 : 36))
            radius: 20
            color: "#2C2C2E"
            opacity: shown ? 1 : 0
            transform: Translate {
                y: card.shown ? 0 : 14
                Behavior on y { NumberAnimation { duration: onboarding.reduceMotion ? 0 : 250; easing.type: Easing.OutQuad } }
            }
            Behavior on opacity { NumberAnimation { duration: onboarding.reduceMotion ? 0 : 250; easing.type: Easing.OutQuad } }

            Text {
                id: emoji
                x: 16
                width: 36
                anchors.verticalCenter: parent.verticalCenter
                horizontalAlignment: Text.AlignHCenter
                text: onboarding.emojiOf(modelData)
                font.pixelSize: 28
                // Emoji in colour where the font is installed, not the text forms of the default font.
                font.family: "Noto Color Emoji"
            }
            Text {
                id: line
                x: 16 + 36 + 16
                width: card.width - x - 16
                anchors.verticalCenter: parent.verticalCenter
                text: onboarding.labelOf(modelData)
                color: "white"
                font.pixelSize: 16
                font.weight: Font.DemiBold
                wrapMode: Text.Wrap
            }
        }
    }
}
