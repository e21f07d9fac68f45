import QtQuick
import QtQuick.Controls.Basic as Basic
import Tovrick.Motivation 1.0
import Tovrick.Ui 1.0

// One clip: play or stop, delete (own clips only) and the switch that lets nudges pick it.
Rectangle {
    id: tile
    property string clipId
    property string title
    property bool own: false
    property string symbol: "play.fill"
    property string playLabel
    property string deleteLabel
    property bool on: false
    property bool switchesDisabled: false
    // What tells the tile that the store has answered a change of its switch (switchAnswered(id)).
    property var answers: null
    readonly property Item playButton: playControl
    readonly property Item deleteButton: deleteControl
    signal playClicked()
    signal deleteClicked()
    signal switched(bool on)

    objectName: "motivationTile-" + clipId
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
                id: playControl
                objectName: "motivationPlay"
                focusRadius: 20
                width: 40
                height: 40
                Accessible.name: tile.playLabel
                background: Rectangle { radius: 20; color: Qt.rgba(66 / 255, 133 / 255, 1, 0.16) }
                contentItem: Item {
                    ClipSymbol {
                        anchors.centerIn: parent
                        width: 16
                        height: 16
                        name: tile.symbol
                    }
                }
                onClicked: tile.playClicked()
            }
            SoundsButtonStyle {
                id: deleteControl
                objectName: "motivationDelete"
                focusRadius: 6
                visible: tile.own
                FocusKeeper.avoided: true
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                width: 28
                height: 32
                Accessible.name: tile.deleteLabel
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
            text: tile.title
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
                checked: tile.on
                enabled: !tile.switchesDisabled
                Accessible.name: tile.title
                // Every way of turning it asks the store. A click or Space shows the new position
                // until the store answers, then the store's answer, refused or not; Qt's own Toggle
                // and Press would only flip the drawing.
                Accessible.onToggleAction: if (enabled) tile.switched(!tile.on)
                Accessible.onPressAction: if (enabled) tile.switched(!tile.on)
                Keys.onReturnPressed: if (enabled) tile.switched(!tile.on)
                Keys.onEnterPressed: if (enabled) tile.switched(!tile.on)
                Connections {
                    target: tile.answers
                    function onSwitchAnswered(id) {
                        if (id === tile.clipId)
                            toggle.checked = Qt.binding(() => tile.on)
                    }
                }
                indicator: Rectangle {
                    implicitWidth: 26
                    implicitHeight: 15
                    radius: 7.5
                    opacity: tile.switchesDisabled ? 0.5 : 1
                    color: toggle.checked ? "#4285FF" : "#48484A"
                    Rectangle {
                        objectName: "soundsFocusRing"
                        visible: toggle.visualFocus
                        anchors.fill: parent
                        anchors.margins: -3
                        radius: height / 2
                        color: "transparent"
                        border.width: 2
                        border.color: "#8AB4FF"
                    }
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
