import QtQuick
import QtQuick.Controls.Basic

// A scroll view whose scroll bars carry a name on the accessibility bus: that of what they scroll.
// Drawn and placed as the style's own.
ScrollView {
    id: view
    property string barName: ""

    ScrollBar.vertical: ScrollBar {
        parent: view
        x: view.mirrored ? 0 : view.width - width
        y: view.topPadding
        height: view.availableHeight
        active: view.ScrollBar.horizontal.active
        Accessible.name: view.barName
    }
    ScrollBar.horizontal: ScrollBar {
        parent: view
        x: view.leftPadding
        y: view.height - height
        width: view.availableWidth
        active: view.ScrollBar.vertical.active
        Accessible.name: view.barName
    }
}
