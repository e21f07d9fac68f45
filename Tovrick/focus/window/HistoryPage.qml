import QtQuick
import QtQuick.Controls.Basic as Basic
import Tovrick.Focus 1.0

// The History page: the summary line, then one card per finished session (newest first) that opens
// to show how its screen checks came out, or the empty card. State and rules are in `focusHistory`.
Column {
    id: page
    spacing: 24

    component CardBackground: Rectangle {
        radius: 14
        color: FocusColor.tabBar
        border.width: 1
        border.color: FocusColor.divider
    }

    component CountChip: Row {
        property color chipColor
        property int count: 0
        property string name: ""
        spacing: 6
        Rectangle {
            width: 8
            height: 8
            radius: 2
            color: parent.chipColor
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            text: parent.count + " " + parent.name
            Accessible.name: text
            font.pixelSize: 12
            color: FocusColor.text
        }
    }

    Item {
        objectName: "historySummary"
        width: parent.width
        height: sessionsLabel.implicitHeight
        Text {
            id: sessionsLabel
            objectName: "historySessions"
            Accessible.name: text
            text: focusHistory.sessionsText
            font.pixelSize: 13
            color: FocusColor.secondaryText
        }
        Text {
            objectName: "historyMinutes"
            Accessible.name: text
            anchors.right: parent.right
            text: focusHistory.focusedText
            font.pixelSize: 13
            color: FocusColor.secondaryText
        }
    }

    Item {
        objectName: "historyEmpty"
        visible: focusHistory.sessionCount === 0
        width: parent.width
        height: emptyContent.implicitHeight + 80
        CardBackground { anchors.fill: parent }
        Column {
            id: emptyContent
            x: 40
            y: 40
            width: parent.width - 80
            spacing: 16
            FocusIcon {
                name: "clock.badge.checkmark"
                color: FocusColor.accent
                width: 40
                height: 40
                anchors.horizontalCenter: parent.horizontalCenter
            }
            Text {
                text: "No sessions yet"
                Accessible.name: text
                font.pixelSize: 23
                font.bold: true
                color: FocusColor.text
                anchors.horizontalCenter: parent.horizontalCenter
            }
            Text {
                width: parent.width
                text: "Your completed sessions will appear here."
                Accessible.name: text
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                color: FocusColor.secondaryText
                font.pixelSize: 14
            }
            FocusActionStyle {
                objectName: "historyPlanSession"
                text: "Plan a focus session"
                anchors.horizontalCenter: parent.horizontalCenter
                onClicked: focusView.selectPage(0)
            }
        }
    }

    Column {
        objectName: "historyList"
        visible: focusHistory.sessionCount > 0
        width: parent.width
        spacing: 16
        Repeater {
            model: focusHistory.sessions
            Item {
                id: card
                objectName: "historyCard" + index
                readonly property bool expanded: focusHistory.expandedSession === modelData.id
                width: parent.width
                height: cardContent.implicitHeight + 36
                CardBackground { anchors.fill: parent }
                Column {
                    id: cardContent
                    x: 18
                    y: 18
                    width: parent.width - 36
                    spacing: 16

                    // Header: the whole row answers clicks.
                    DisclosureHeader {
                        id: header
                        objectName: "historyHeader" + index
                        width: parent.width
                        height: Math.max(42, titles.implicitHeight)
                        title: modelData.label
                        description: modelData.start
                        expanded: card.expanded
                        Accessible.name: title
                        onActivated: focusHistory.toggleExpandedSession(modelData.id)
                        Rectangle {
                            id: badge
                            width: 42
                            height: 42
                            radius: 10
                            color: FocusColor.card
                            anchors.verticalCenter: parent.verticalCenter
                            FocusIcon {
                                name: "checkmark"
                                color: FocusColor.accent
                                width: 16
                                height: 16
                                anchors.centerIn: parent
                            }
                        }
                        Column {
                            id: titles
                            x: badge.width + 16
                            width: parent.width - x - minutesLabel.implicitWidth - chevron.width - 12 - 48
                            spacing: 5
                            anchors.verticalCenter: parent.verticalCenter
                            Text {
                                objectName: "historyTask" + index
                                width: parent.width
                                text: modelData.task
                                textFormat: Text.PlainText
                                wrapMode: Text.Wrap
                                font.pixelSize: 15
                                font.weight: Font.DemiBold
                                color: FocusColor.text
                            }
                            Text {
                                objectName: "historyStart" + index
                                text: modelData.start
                                font.pixelSize: 12
                                color: FocusColor.secondaryText
                            }
                        }
                        Text {
                            id: minutesLabel
                            objectName: "historySessionMinutes" + index
                            anchors.right: chevron.left
                            anchors.rightMargin: 16
                            anchors.verticalCenter: parent.verticalCenter
                            text: modelData.minutesText
                            font.pixelSize: 20
                            font.bold: true
                            color: FocusColor.accent
                        }
                        FocusIcon {
                            id: chevron
                            objectName: "historyChevron" + index
                            anchors.right: parent.right
                            anchors.verticalCenter: parent.verticalCenter
                            name: card.expanded ? "chevron.up" : "chevron.down"
                            color: FocusColor.secondaryText
                            width: 11
                            height: 11
                        }
                        MouseArea {
                            anchors.fill: parent
                            onClicked: header.activate()
                        }
                        FocusMark {
                            shown: header.visualFocus
                            controlRadius: 10
                        }
                    }

                    Column {
                        objectName: "historyDetails" + index
                        visible: card.expanded
                        width: parent.width
                        spacing: 16
                        Rectangle {
                            width: parent.width
                            height: 1
                            color: FocusColor.divider
                        }
                        Row {
                            spacing: 16
                            CountChip {
                                objectName: "historyOnTask" + index
                                chipColor: FocusColor.accent
                                count: modelData.onTask
                                name: "On task"
                            }
                            CountChip {
                                objectName: "historyOffTask" + index
                                chipColor: "#FF9F0A"
                                count: modelData.offTask
                                name: "Off task"
                            }
                            CountChip {
                                objectName: "historyUnknown" + index
                                chipColor: FocusColor.secondaryText
                                count: modelData.unknown
                                name: "Unknown"
                            }
                        }
                        Text {
                            objectName: "historyDetail" + index
                            Accessible.name: text
                            width: parent.width
                            visible: text !== ""
                            text: modelData.detail
                            textFormat: Text.PlainText
                            wrapMode: Text.Wrap
                            font.pixelSize: 12
                            color: FocusColor.secondaryText
                        }
                        Row {
                            objectName: "historyDeveloper" + index
                            visible: modelData.developer !== ""
                            spacing: 6
                            FocusIcon {
                                name: "hammer"
                                color: FocusColor.text
                                width: 11
                                height: 11
                                anchors.verticalCenter: parent.verticalCenter
                            }
                            Text {
                                text: modelData.developer
                                Accessible.name: text
                                font.pixelSize: 11
                                color: FocusColor.text
                            }
                        }
                        Text {
                            width: parent.width
                            text: "Counts reflect periodic screen checks, rather than every moment of the session."
                            Accessible.name: text
                            wrapMode: Text.Wrap
                            font.pixelSize: 11
                            color: FocusColor.secondaryText
                        }
                    }
                }
            }
        }
    }
}
