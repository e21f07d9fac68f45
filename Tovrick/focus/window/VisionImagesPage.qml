import QtQuick
import QtQuick.Controls.Basic as Basic
import Tovrick.Focus 1.0
import Tovrick.Ui 1.0

// The Vision Images page: the reminder images as a two-column grid with their Remove buttons, the
// add button (up to 20) and the import's progress and failures. State and rules are in
// `visionLibrary`.
Column {
    id: page
    spacing: 24

    // Where the Remove button was that the keyboard used, while its image goes: the grid is made
    // anew, and the focus goes to the Remove button that takes its place, else the one before, else
    // "Add images". The next control that takes the focus ends it.
    property int removingAt: -1
    FocusKeeper.target: removingAt < 0 ? null
                        : tiles.count > 0 ? tiles.itemAt(Math.min(removingAt, tiles.count - 1)).removeButton
                        : addButton
    readonly property Item focused: Window.activeFocusItem
    onFocusedChanged: if (focused && focused.activeFocusOnTab && focused.visible) removingAt = -1

    Text {
        width: parent.width
        text: "A reminder of what matters, shown for about half of your distraction nudges."
        Accessible.name: text
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        font.pixelSize: 14
        color: FocusColor.secondaryText
    }

    FocusActionStyle {
        id: addButton
        objectName: "visionAddImages"
        text: "Add images"
        iconName: "plus"
        available: visionLibrary.canAdd
        // Off while the chosen images are added: the focus waits for them.
        FocusKeeper.waiting: visionLibrary.importing
        anchors.horizontalCenter: parent.horizontalCenter
        onClicked: visionLibrary.chooseImages()
    }

    Row {
        objectName: "visionImporting"
        visible: visionLibrary.importing
        spacing: 8
        anchors.horizontalCenter: parent.horizontalCenter
        Basic.BusyIndicator {
            running: visionLibrary.importing
            width: 20
            height: 20
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            text: "Adding images\u2026"
            Accessible.name: text
            font.pixelSize: 13
            color: FocusColor.text
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    FeedbackBanner {
        objectName: "visionFeedback"
        visible: visionLibrary.message !== ""
        width: parent.width
        message: visionLibrary.message
    }

    Grid {
        id: grid
        objectName: "visionGrid"
        visible: visionLibrary.entryUrls.length > 0
        width: parent.width
        columns: 2
        columnSpacing: 8
        rowSpacing: 16
        readonly property real tileWidth: (width - columnSpacing) / 2
        Repeater {
            id: tiles
            model: visionLibrary.entryUrls
            Rectangle {
                id: tile
                readonly property Item removeButton: removeButton
                objectName: "visionTile" + index
                width: grid.tileWidth
                height: tileColumn.implicitHeight
                radius: 14
                color: FocusColor.card
                Column {
                    id: tileColumn
                    width: parent.width
                    VisionTileImage {
                        objectName: "visionImage" + index
                        // A stored file that cannot be decoded leaves only its Remove button.
                        visible: loaded
                        width: parent.width
                        height: loaded ? 150 : 0
                        source: modelData
                    }
                    FocusButtonStyle {
                        id: removeButton
                        objectName: "visionRemove" + index
                        width: parent.width
                        padding: 12
                        focusRadius: 10
                        // Each names its image: a screen reader hears them apart.
                        Accessible.name: "Remove image " + (index + 1)
                        background: Item {}
                        contentItem: Item {
                            implicitHeight: removeRow.implicitHeight
                            Row {
                                id: removeRow
                                spacing: 6
                                anchors.centerIn: parent
                                FocusIcon {
                                    name: "trash"
                                    color: removeLabel.color
                                    width: 13
                                    height: 13
                                    anchors.verticalCenter: parent.verticalCenter
                                }
                                Text {
                                    id: removeLabel
                                    text: "Remove"
                                    font.pixelSize: 13
                                    color: "#FF453A"
                                }
                            }
                        }
                        opacity: down ? 0.7 : 1.0
                        FocusKeeper.avoided: true
                        onClicked: {
                            if (activeFocus)
                                page.removingAt = index
                            visionLibrary.remove(modelData)
                        }
                    }
                }
            }
        }
    }

    Item {
        objectName: "visionEmpty"
        visible: visionLibrary.entryUrls.length === 0
        width: parent.width
        height: 48 + 76
        FocusIcon {
            name: "photo.on.rectangle.angled"
            color: FocusColor.secondaryText
            width: 52
            height: 52
            anchors.centerIn: parent
        }
    }

    Text {
        width: parent.width
        text: "Only on this computer \u00B7 up to 20 images \u00B7 never sent to AI"
        Accessible.name: text
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        font.pixelSize: 11
        color: FocusColor.secondaryText
    }
}
