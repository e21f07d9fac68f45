import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// A scroll view whose scroll bars carry a name on the accessibility bus: that of what they scroll.
// Sized, drawn and placed as the style's own scroll view (whose own bars would linger beside these).
// A control inside that takes the keyboard's focus is scrolled into view.
T.ScrollView {
    id: view
    property string barName: ""

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            contentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             contentHeight + topPadding + bottomPadding)

    // On the bus a bar's value is how far the page is scrolled, in pixels, and setting it scrolls;
    // like its Increase and Decrease, only while the bar is enabled (not under a dialog).
    component BusScrollBar: ScrollBar {
        id: bar
        property T.ScrollView scrolled
        readonly property bool reportsDisabled: true
        readonly property bool scrollsVertically: bar.orientation === Qt.Vertical
        readonly property Item flickable: scrolled ? scrolled.contentItem : null
        readonly property real minimumValue: 0
        readonly property real maximumValue: !scrolled ? 0 : Math.max(0, Math.round(scrollsVertically
            ? scrolled.contentHeight - scrolled.availableHeight : scrolled.contentWidth - scrolled.availableWidth))
        property real value: 0
        function shownValue() {
            if (!flickable)
                return 0
            return Math.round(scrollsVertically ? flickable.contentY - flickable.originY
                                                : flickable.contentX - flickable.originX)
        }
        Connections {
            target: bar.flickable
            function onContentYChanged() { bar.value = bar.shownValue() }
            function onContentXChanged() { bar.value = bar.shownValue() }
        }
        onValueChanged: {
            if (Math.abs(value - shownValue()) < 1)
                return
            if (enabled && flickable) {
                const to = Math.max(0, Math.min(value, maximumValue))
                if (scrollsVertically)
                    flickable.contentY = flickable.originY + to
                else
                    flickable.contentX = flickable.originX + to
            }
            value = shownValue()
        }
        Accessible.name: scrolled ? scrolled.barName : ""
        Accessible.onIncreaseAction: if (enabled) increase()
        Accessible.onDecreaseAction: if (enabled) decrease()
    }

    ScrollBar.vertical: BusScrollBar {
        scrolled: view
        parent: view
        x: view.mirrored ? 0 : view.width - width
        y: view.topPadding
        height: view.availableHeight
        active: view.ScrollBar.horizontal.active
    }
    ScrollBar.horizontal: BusScrollBar {
        scrolled: view
        parent: view
        // A bar that cannot move is no control.
        visible: view.contentWidth > view.availableWidth
        x: view.leftPadding
        y: view.height - height
        width: view.availableWidth
        active: view.ScrollBar.vertical.active
    }

    function reveal(item) {
        const flick = view.contentItem
        if (!item || !view.visible || !flick || !flick.contentItem)
            return
        let inside = false
        for (let it = item.parent; it && !inside; it = it.parent)
            inside = it === flick.contentItem
        if (!inside)
            return
        const margin = 8
        const box = item.mapToItem(flick.contentItem, 0, 0, item.width, item.height)
        // What is taller than the view keeps its own way of showing its part (a text's cursor).
        if (box.height + 2 * margin > flick.height)
            return
        if (box.y - margin < flick.contentY)
            flick.contentY = Math.max(0, box.y - margin)
        else if (box.y + box.height + margin > flick.contentY + flick.height)
            flick.contentY = Math.min(box.y + box.height + margin - flick.height,
                                      Math.max(0, flick.contentHeight - flick.height))
    }
    Connections {
        target: view.Window.window
        function onActiveFocusItemChanged() { view.reveal(view.Window.activeFocusItem) }
    }
}
