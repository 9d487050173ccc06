import QtQuick
import QtQuick.Controls
import Quorvel.Ui
import Quorvel.Assistant

// The conversation, built lazily as it scrolls; the welcome panel while it is empty, the
// loading indicator after the last message while a reply is pending. It follows the newest
// message and the indicator.
ListView {
    id: list

    property ChatModel chat

    model: chat
    spacing: 16
    leftMargin: 24
    rightMargin: 24
    topMargin: 8
    bottomMargin: 8
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

    header: Item {
        width: list.width - list.leftMargin - list.rightMargin
        height: welcome.visible ? welcome.implicitHeight : 0
        ChatWelcomeView {
            id: welcome
            visible: list.chat && list.chat.count === 0
            width: parent.width
            suggestions: list.chat ? list.chat.suggestions : []
            onSendSuggestion: text => list.chat.sendSuggestion(text)
        }
    }

    delegate: ChatBubble {
        required text
        required isUser
        required time
        width: list.width - list.leftMargin - list.rightMargin
    }

    footer: Item {
        width: list.width - list.leftMargin - list.rightMargin
        height: indicator.visible ? indicator.implicitHeight + list.spacing : 0
        ChatLoadingIndicator {
            id: indicator
            objectName: "chatLoading"
            y: list.spacing
            visible: list.chat && list.chat.isLoading
        }
    }

    // The newest message, and the indicator when it appears, scroll into view.
    function followEnd() {
        Qt.callLater(() => {
            scrollAnimation.to = Math.max(originY - topMargin, originY + contentHeight + bottomMargin - height)
            scrollAnimation.restart()
        })
    }
    NumberAnimation {
        id: scrollAnimation
        target: list
        property: "contentY"
        duration: 250
        easing.type: Easing.InOutQuad
    }
    onCountChanged: if (count > 0) followEnd()
    Connections {
        target: list.chat
        function onIsLoadingChanged() {
            if (list.chat.isLoading)
                list.followEnd()
        }
    }
}
