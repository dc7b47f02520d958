import QtQuick 2.15
import QtTest 1.15
import "qrc:/qml"

// Clicks on the box are tested through the window (tst_window).

TestCase {
    id: testCase
    name: "MyCheckBox"
    when: windowShown
    width: 300
    height: 100

    Component {
        id: checkBox
        MyCheckBox { height: 40; text: "托盘" }
    }

    SignalSpy { id: changes; signalName: "innerValueChanged" }

    function make(props) {
        var box = createTemporaryObject(checkBox, testCase, props || {})
        changes.target = box
        changes.clear()
        return box
    }

    function test_isCheckPushesOnlyDifferentValues() {
        var box = make()
        box.isCheck = false // same as innerValue: no change
        compare(changes.count, 0)
        box.isCheck = true
        compare(box.innerValue, true)
        compare(changes.count, 1)
        box.innerValue = false // as a click does; isCheck stays true
        compare(changes.count, 2)
        box.isCheck = false
        compare(changes.count, 2)
        box.isCheck = true
        compare(box.innerValue, true)
        compare(changes.count, 3)
    }

    function test_initialIsCheckTurnsTheBoxOn() {
        var box = make({ isCheck: true })
        compare(box.innerValue, true)
    }

    function test_labelIsPlainText() {
        var box = make({ text: "<b>x</b>" })
        compare(findChild(box, "label").text, "<b>x</b>")
        compare(findChild(box, "label").textFormat, Text.PlainText)
    }
}
