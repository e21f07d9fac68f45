import QtQuick
import Tovrick.Focus 1.0

// A card that opens to show more: a title row with a chevron (and an icon when given), collapsed at
// first. Its children go below the title when it is open.
Rectangle {
    id: card
    property string title: ""
    property string iconName: ""
    property int titleWeight: Font.Normal
    property bool expanded: false
    default property alias content: body.data

    implicitHeight: column.implicitHeight + 36
    radius: 14
    color: FocusColor.tabBar
    border.width: 1
    border.color: FocusColor.divider

    Column {
        id: column
        x: 18
        y: 18
        width: card.width - 36

        DisclosureHeader {
            id: header
            objectName: card.objectName + "Toggle"
            width: parent.width
            height: 20
            title: card.title
            expanded: card.expanded
            Accessible.name: card.title
            onActivated: card.expanded = !card.expanded
            Row {
                spacing: 8
                anchors.verticalCenter: parent.verticalCenter
                FocusIcon {
                    name: "chevron.right"
                    color: FocusColor.secondaryText
                    width: 10
                    height: 10
                    rotation: card.expanded ? 90 : 0
                    anchors.verticalCenter: parent.verticalCenter
                }
                FocusIcon {
                    visible: card.iconName !== ""
                    name: card.iconName
                    color: FocusColor.text
                    width: 14
                    height: 14
                    anchors.verticalCenter: parent.verticalCenter
                }
                Text {
                    text: card.title
                    font.pixelSize: 13
                    font.weight: card.titleWeight
                    color: FocusColor.text
                    anchors.verticalCenter: parent.verticalCenter
                }
            }
            MouseArea {
                anchors.fill: parent
                onClicked: header.activate()
            }
            FocusMark {
                shown: header.visualFocus
                controlRadius: 6
            }
        }
        Column {
            id: body
            visible: card.expanded
            width: parent.width
            topPadding: 12
            spacing: 16
        }
    }
}
