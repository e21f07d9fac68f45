import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// A scroll view whose scroll bars carry a name on the accessibility bus: that of what they scroll.
// Sized, drawn and placed as the style's own scroll view (whose own bars would linger beside these).
T.ScrollView {
    id: view
    property string barName: ""

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            contentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             contentHeight + topPadding + bottomPadding)

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
