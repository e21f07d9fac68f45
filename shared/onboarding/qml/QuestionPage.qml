import QtQuick

// A question: a header of fixed height (as tall as the tallest of the six questions, so the answers
// stay in place from one question to the next) and one row per option.
Column {
    id: page
    property string key
    property string title
    property bool multiple
    readonly property var titles: ["What would you like more of?", "What gets in your way?",
        "Which sounds most like you?", "When does your focus drift?", "Tried changing your habits before?",
        "What’s your age range?"]
    readonly property var subtitles: ["Choose all that feel right.", "Choose the one that fits best."]
    width: parent ? parent.width : 0
    spacing: 8

    Column {
        width: page.width
        spacing: 12
        topPadding: 8
        bottomPadding: 8
        Item {
            width: parent.width
            height: tallestTitle.height
            Item {
                id: tallestTitle
                width: parent.width
                height: childrenRect.height
                Repeater {
                    model: page.titles
                    Text {
                        width: tallestTitle.width
                        text: modelData
                        font.pixelSize: 30
                        font.bold: true
                        wrapMode: Text.Wrap
                        horizontalAlignment: Text.AlignHCenter
                        opacity: 0
                        Accessible.ignored: true
                    }
                }
            }
            Text {
                objectName: "pageTitle"
                width: parent.width
                text: page.title
                color: "white"
                font.pixelSize: 30
                font.bold: true
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
            }
        }
        Item {
            width: parent.width
            height: tallestSubtitle.height
            Item {
                id: tallestSubtitle
                width: parent.width
                height: childrenRect.height
                Repeater {
                    model: page.subtitles
                    Text {
                        width: tallestSubtitle.width
                        text: modelData
                        font.pixelSize: 16
                        wrapMode: Text.Wrap
                        horizontalAlignment: Text.AlignHCenter
                        opacity: 0
                        Accessible.ignored: true
                    }
                }
            }
            Text {
                objectName: "pageSubtitle"
                width: parent.width
                text: page.multiple ? "Choose all that feel right." : "Choose the one that fits best."
                color: Qt.rgba(1, 1, 1, 0.65)
                font.pixelSize: 16
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
            }
        }
    }
    Repeater {
        model: onboarding.options(page.key)
        OptionRow { option: modelData; key: page.key; multiple: page.multiple }
    }
}
