import QtQuick

// One answer of a question page. The stored answer is the label after "|"; the emoji column is left
// out for the age and history questions.
PressButton {
    id: row
    property string option
    property string key
    property bool multiple
    readonly property string emoji: onboarding.emojiOf(option)
    readonly property string label: onboarding.labelOf(option)
    readonly property bool selected: { onboarding.page; onboarding.revealed; return onboarding.isSelected(key, label) }
    objectName: "option " + label
    width: parent ? parent.width : 0
    leftInset: 6
    rightInset: 6
    implicitHeight: Math.max(58, content.implicitHeight + 24)
    Accessible.name: label
    Accessible.checkable: true
    Accessible.checked: selected
    onClicked: onboarding.selectOption(multiple, key, selected, label)

    contentItem: Item {}
    Rectangle {
        id: card
        x: 6
        width: row.width - 12
        height: row.height
        radius: 20
        color: row.selected ? Qt.rgba(0x42 / 255, 0x85 / 255, 1, 0.2) : Qt.rgba(1, 1, 1, 0.065)
        border.width: 2
        border.color: row.selected ? "#4285FF" : "transparent"

        Row {
            id: content
            x: 16
            width: parent.width - 32
            anchors.verticalCenter: parent.verticalCenter
            spacing: 14
            readonly property bool showsEmoji: row.key !== "age" && row.key !== "history"
            Text {
                visible: content.showsEmoji
                width: 32
                anchors.verticalCenter: parent.verticalCenter
                horizontalAlignment: Text.AlignHCenter
                text: row.emoji
                font.pixelSize: 26
                // Emoji in colour where the font is installed, not the text forms of the default font.
                font.family: "Noto Color Emoji"
            }
            Text {
                width: content.width - (content.showsEmoji ? 32 + 14 : 0) - 24 - 14
                anchors.verticalCenter: parent.verticalCenter
                text: row.label
                color: "white"
                font.pixelSize: 16
                font.weight: Font.DemiBold
                wrapMode: Text.Wrap
            }
            Rectangle {
                objectName: "optionMark"
                width: 24
                height: 24
                radius: 12
                anchors.verticalCenter: parent.verticalCenter
                color: row.selected ? "#4285FF" : "transparent"
                border.width: row.selected ? 0 : 2
                border.color: "gray"
                Text {
                    anchors.centerIn: parent
                    visible: row.selected
                    text: "✓"
                    color: "white"
                    font.pixelSize: 15
                    font.bold: true
                }
            }
        }
    }
}
