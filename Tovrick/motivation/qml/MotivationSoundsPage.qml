import QtQuick
import QtQuick.Controls.Basic as Basic
import Tovrick.Ui 1.0

// The Sounds screen: the spoken default clips, the user's own recordings and the way to record a
// new one. Its rules are in `sounds`; `shown` follows whether the page is on screen.
Column {
    id: page
    property var sounds: soundsView
    // On screen: the page is shown and its window is open (closing the window only hides it).
    property bool shown: visible && Window.visibility !== Window.Hidden
    objectName: "motivationSounds"
    spacing: 24

    readonly property real cellWidth: (width - 32) / 3

    onShownChanged: if (sounds) sounds.setShown(shown)
    Component.onCompleted: if (sounds) sounds.setShown(shown)
    Component.onDestruction: if (sounds) sounds.setShown(false)
    // The window's active state, from the first change on.
    property bool windowActive: Window.active
    onWindowActiveChanged: if (sounds) sounds.setWindowActive(windowActive)

    // The page's control that last had the keyboard focus, where a closed dialog gives it back
    // when nothing opened it from the page.
    property Item lastFocused: null
    // The control that opened the open dialog, however it was pressed (a screen reader's Press
    // leaves the focus where it was): a closed dialog gives the focus back to it.
    property Item opener: null
    // Where the own tile was that went with the control the focus was to go back to, or -1: the
    // focus goes to the tile that takes its place, else the one before, else the page's first control.
    property int removedAt: -1
    // The own tile a save in the open recording sheet added: a closed sheet gives the focus to it.
    property Item savedTile: null
    readonly property Item focusedItem: Window.activeFocusItem
    onFocusedItemChanged: if (focusedItem && focusedItem.activeFocusOnTab && holds(focusedItem)) lastFocused = focusedItem
    function holds(item, outer) {
        for (let each = item; each; each = each.parent) {
            if (each === (outer ? outer : page))
                return true
        }
        return false
    }
    function successor() {
        const count = ownTiles.count
        if (count > 0)
            return ownTiles.itemAt(Math.min(removedAt, count - 1)).deleteButton
        const first = defaultTiles.count > 0 ? defaultTiles.itemAt(0) : null
        return first ? first.playButton : recordTile
    }
    // Names where the focus goes; the window's keeper takes it there, or near there when that is off.
    function returnFocus() {
        if (!page.visible || deleteDialog.opened || recordingSheet.opened)
            return
        const usable = (item) => item && item.visible && item.enabled
        const target = savedTile ? savedTile.playButton
                     : usable(opener) ? opener
                     : removedAt >= 0 ? successor()
                     : opener ? opener
                     : usable(lastFocused) ? lastFocused : recordTile
        opener = null
        removedAt = -1
        savedTile = null
        FocusKeeper.giveBack(target, true)
    }
    // A tile going away with the focus, or with the control a dialog is to give it back to.
    function tileRemoved(index, tile) {
        const held = Window.activeFocusItem
        const hadFocus = held && holds(held, tile)
        if (!hadFocus && !(opener && holds(opener, tile)))
            return
        if (opener && holds(opener, tile))
            opener = null
        removedAt = index
        if (hadFocus)
            Qt.callLater(page.returnFocus)
    }

    Text {
        width: parent.width
        text: "Dein kleiner Motivationsschub."
        Accessible.role: Accessible.Heading; Accessible.name: text
        wrapMode: Text.Wrap
        font.pixelSize: 28
        font.bold: true
        color: "#F5F5F7"
    }
    Text {
        text: "Standard-Sounds"
        Accessible.role: Accessible.Heading; Accessible.name: text
        font.pixelSize: 13
        font.weight: Font.DemiBold
        color: "#A9A9B0"
    }
    Grid {
        objectName: "motivationDefaultGrid"
        columns: 3
        columnSpacing: 16
        rowSpacing: 16
        Repeater {
            id: defaultTiles
            model: page.sounds.defaultModel
            ClipTile {
                width: page.cellWidth
                clipId: model.id
                title: model.title
                symbol: model.symbol
                playLabel: model.playLabel
                on: model.on
                answers: page.sounds
                switchesDisabled: page.sounds.switchesDisabled
                onPlayClicked: page.sounds.togglePlay(clipId)
                onSwitched: (on) => page.sounds.setSwitch(clipId, on)
            }
        }
        RecordTile {
            id: recordTile
            width: page.cellWidth
            enabled: !page.sounds.recordDisabled
            opacity: page.sounds.recordOpacity
            onClicked: {
                page.opener = recordTile
                page.savedTile = null
                page.sounds.openRecording()
            }
        }
    }
    Text {
        objectName: "motivationSoundsBanner"
        Accessible.name: text
        visible: page.sounds.limitReached
        width: parent.width
        text: "10 von 10 Aufnahmen. Lösche eine alte Aufnahme, bevor du eine neue erstellst."
        wrapMode: Text.Wrap
        font.pixelSize: 11
        color: "#A9A9B0"
    }
    Text {
        objectName: "motivationOwnHeading"
        visible: page.sounds.ownSectionShown
        text: "Deine Aufnahmen"
        Accessible.role: Accessible.Heading; Accessible.name: text
        font.pixelSize: 13
        font.weight: Font.DemiBold
        color: "#A9A9B0"
    }
    Grid {
        objectName: "motivationOwnGrid"
        visible: page.sounds.ownSectionShown
        columns: 3
        columnSpacing: 16
        rowSpacing: 16
        Repeater {
            id: ownTiles
            model: page.sounds.ownModel
            onItemRemoved: (index, item) => page.tileRemoved(index, item)
            onItemAdded: (index, item) => { if (recordingSheet.opened) page.savedTile = item }
            ClipTile {
                width: page.cellWidth
                clipId: model.id
                title: model.title
                own: true
                symbol: model.symbol
                playLabel: model.playLabel
                deleteLabel: model.deleteLabel
                on: model.on
                answers: page.sounds
                switchesDisabled: page.sounds.switchesDisabled
                onPlayClicked: page.sounds.togglePlay(clipId)
                onDeleteClicked: {
                    page.opener = deleteButton
                    page.sounds.askDelete(clipId)
                }
                onSwitched: (on) => page.sounds.setSwitch(clipId, on)
            }
        }
    }
    Row {
        objectName: "motivationSaving"
        visible: page.sounds.savingShown
        spacing: 8
        Basic.BusyIndicator { width: 18; height: 18; running: parent.visible }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: "Wird gespeichert …"
            Accessible.name: text
            font.pixelSize: 13
            color: "#F5F5F7"
        }
    }
    Text {
        objectName: "motivationSoundsMessage"
        Accessible.role: Accessible.Notification
        Accessible.name: text
        visible: page.sounds.message !== ""
        width: parent.width
        text: page.sounds.message
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font.pixelSize: 11
        color: "#A9A9B0"
    }

    ClipDeleteDialog {
        id: deleteDialog
        sounds: page.sounds
        onClosed: Qt.callLater(page.returnFocus)
    }
    MotivationRecordingSheet {
        id: recordingSheet
        sheet: page.sounds.sheet
        onClosed: Qt.callLater(page.returnFocus)
    }
}
