import QtQuick
import QtTest
import Quorvel.Assistant

Item {
    id: root
    width: 800
    height: 600

    Component { id: bubbleComponent; ChatBubble { width: 600 } }

    TestCase {
        name: "ChatBubble"
        when: windowShown

        // A bubble is as wide as its text and padding, up to three quarters of the row.
        function test_bubbleWidth_data() {
            return [
                { tag: "user, short", isUser: true, text: "abc", wraps: false },
                { tag: "assistant, short", isUser: false, text: "好的，我来看看。", wraps: false },
                { tag: "user, long", isUser: true, wraps: true,
                  text: "A question long enough to need more than one line in a bubble of this row, and then some more." }
            ]
        }
        function test_bubbleWidth(data) {
            const bubble = createTemporaryObject(bubbleComponent, root,
                                                 { isUser: data.isUser, text: data.text, time: "10:33" })
            const label = findChild(bubble, "bubbleText")
            tryVerify(() => label.width > 0)
            if (data.wraps) {
                compare(label.width, bubble.width * 0.75)
            } else {
                // The label's implicit width is its text and its padding on both sides, and
                // the text stays on one line.
                verify(label.width >= label.implicitWidth && label.width - label.implicitWidth < 1,
                       label.width + " px for " + label.implicitWidth)
                compare(label.lineCount, 1)
            }
        }
    }
}
