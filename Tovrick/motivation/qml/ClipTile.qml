import QtQuick
import QtQuick.Controls.Basic as Basic
import Tovrick.Motivation 1.0

// One clip: play or stop, delete (own clips only) and the switch that lets nudges pick it.
Rectangle {
    id: tile
    property var clip: ({})
    property bool switchesDisabled: false
    signal playClicked()
    signal deleteClicked()
    signal switched(bool on)

    objectName: "motivationTile-" + clip.id
    implicitHeight: Math.max(192, content.implicitHeight + 32)
    radius: 16
    color: "#2C2C2E"
    border.width: 1
    border.color: Qt.rgba(65 / 255, 65 / 255, 68 / 255, 0.6)

    Column {
        id: content
        x: 16
        y: 16
        width: parent.width - 32
        spacing: 16

        Item {
            width: parent.width
            height: 40
            SoundsButtonStyle {
                objectName: "motivationPlay"
                width: 40
                height: 40
                Accessible.name: tile.clip.playLabel
                background: Rectangle { radius: 20; color: Qt.rgba(66 / 255, 133 / 255, 1, 0.16) }
                contentItem: Item {
                    ClipSymbol {
                        anchors.centerIn: parent
                        width: 16
                        height: 16
                        name: tile.clip.symbol
                    }
                }
                onClicked: tile.playClicked()
            }
            SoundsButtonStyle {
                objectName: "motivationDelete"
                visible: tile.clip.own === true
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                width: 28
                height: 32
                Accessible.name: tile.clip.deleteLabel
                background: Item { }
                contentItem: Item {
                    ClipSymbol {
                        anchors.centerIn: parent
                        width: 18
                        height: 18
                        name: "trash"
                    }
                }
                onClicked: tile.deleteClicked()
            }
        }

        Text {
            objectName: "motivationTileTitle"
            Accessible.name: text
            width: parent.width
            height: Math.max(52, implicitHeight)
            text: tile.clip.title
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font.pixelSize: 14
            font.weight: Font.DemiBold
            color: "#F5F5F7"
        }

        Item {
            width: parent.width
            height: toggle.height
            Basic.Switch {
                id: toggle
                objectName: "motivationSwitch"
                anchors.right: parent.right
                padding: 0
                checked: tile.clip.on === true
                enabled: !tile.switchesDisabled
                Accessible.name: tile.clip.title
                // Every way of turning it asks the store; the switch shows the store's answer. Qt's
                // own Toggle and Press would only flip the drawing.
                Accessible.onToggleAction: if (enabled) tile.switched(!(tile.clip.on === true))
                Accessible.onPressAction: if (enabled) tile.switched(!(tile.clip.on === true))
                indicator: Rectangle {
                    implicitWidth: 26
                    implicitHeight: 15
                    radius: 7.5
                    opacity: tile.switchesDisabled ? 0.5 : 1
                    color: toggle.checked ? "#4285FF" : "#48484A"
                    Rectangle {
                        x: toggle.checked ? parent.width - width - 1.5 : 1.5
                        anchors.verticalCenter: parent.verticalCenter
                        width: 12
                        height: 12
                        radius: 6
                        color: "white"
                    }
                }
                onToggled: tile.switched(checked)
            }
        }
    }
}
