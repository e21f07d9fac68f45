import QtQuick
import Tovrick.Focus 1.0
import Tovrick.Ui 1.0

// The focus and account window: signed in, the chosen page above the tab bar; signed out, only the
// sign-in page. State and rules are in `focusView`.
Rectangle {
    id: root
    objectName: "macFocusView"
    color: FocusColor.background
    implicitWidth: 640
    implicitHeight: 800
    // The tab of the page shown: where the keyboard goes when its page has nothing else to give.
    readonly property Item currentTab: focusView.signedIn && tabButtons.count > focusView.page
                                        ? tabButtons.itemAt(focusView.page) : null
    FocusKeeper.home: currentTab

    // Made only while signed out, so that no hidden copy of its banners lingers behind the pages.
    Loader {
        id: signIn
        objectName: "macFocusSignIn"
        active: !focusView.signedIn
        visible: active
        anchors.fill: parent
        sourceComponent: SignInPage {}
    }

    Item {
        id: signedInContent
        visible: focusView.signedIn
        // What a dialog or sheet covers does not act, however it is reached.
        enabled: !focusView.confirmDelete && !soundsView.deleteDialogShown && !soundsView.recording
        anchors.fill: parent
        // Signed out, the keyboard starts over on the sign-in page.
        FocusKeeper.target: signIn.item ? signIn.item.firstControl : null

        Item {
            id: pageArea
            objectName: "macFocusPageArea"
            anchors { top: parent.top; left: parent.left; right: parent.right; bottom: tabBar.top }
            clip: true

            Item {
                visible: focusView.page === 0
                anchors.fill: parent
                FocusKeeper.home: root.currentTab
                FocusPageView {
                    objectName: "macFocusPage"
                    x: 20
                    y: 16
                    width: parent.width - 40
                    logoLength: focusView.headerLengthFor(pageArea.height, focusView.hasActiveSession)
                }
            }

            NamedScrollView {
                objectName: "macFocusPageScroll"
                visible: focusView.page !== 0 && focusView.page !== 3
                barName: focusView.pageTitle
                anchors.fill: parent
                contentWidth: availableWidth
                Item {
                    implicitHeight: pageBody.implicitHeight + 40
                    Column {
                        id: pageBody
                        x: 20
                        y: 20
                        width: pageArea.width - 40
                        spacing: 24
                        PlainPage {
                            width: parent.width
                            title: focusView.pageTitle
                        }
                        HistoryPage {
                            objectName: "macFocusHistoryPage"
                            visible: focusView.page === 1
                            width: parent.width
                            FocusKeeper.home: root.currentTab
                        }
                        VisionImagesPage {
                            objectName: "macFocusVisionPage"
                            visible: focusView.page === 2
                            width: parent.width
                            FocusKeeper.home: root.currentTab
                        }
                        AccountPage {
                            id: accountPage
                            visible: focusView.page === 4
                            width: parent.width
                            FocusKeeper.home: root.currentTab
                        }
                    }
                }
            }

            // Sounds: made while it is shown, so that leaving the page silences its clips.
            NamedScrollView {
                objectName: "macFocusSoundsArea"
                barName: focusView.pageTitle
                visible: focusView.page === 3
                anchors.fill: parent
                contentWidth: availableWidth
                FocusKeeper.home: root.currentTab
                Item {
                    implicitHeight: soundsBody.implicitHeight + 40
                    Column {
                        id: soundsBody
                        x: 20
                        y: 20
                        width: pageArea.width - 40
                        spacing: 24
                        PlainPage {
                            width: parent.width
                            title: focusView.pageTitle
                        }
                        Loader {
                            width: parent.width
                            active: focusView.page === 3
                            source: "qrc:/tovrick/motivation/qml/MotivationSoundsPage.qml"
                        }
                    }
                }
            }
        }

        Rectangle {
            id: tabBar
            objectName: "macFocusTabBar"
            anchors { left: parent.left; right: parent.right; bottom: parent.bottom }
            height: tabs.implicitHeight + 20
            color: FocusColor.tabBar
            Rectangle {
                width: parent.width
                height: 1
                color: FocusColor.divider
            }
            Row {
                id: tabs
                x: 10
                y: 10
                width: parent.width - 20
                spacing: 8
                Repeater {
                    id: tabButtons
                    model: focusView.pages
                    FocusTabStyle {
                        objectName: modelData.identifier
                        width: (tabs.width - 4 * tabs.spacing) / 5
                        text: modelData.title
                        iconName: modelData.icon
                        selected: focusView.page === index
                        onClicked: focusView.selectPage(index)
                    }
                }
            }
        }
    }

    DeleteConfirmation {
        visible: focusView.confirmDelete
        opener: accountPage.deleteButton
        anchors.fill: parent
    }
}
