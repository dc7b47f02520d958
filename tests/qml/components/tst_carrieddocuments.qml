import QtQuick 2.15
import QtTest 1.15
import "qrc:/qml"

// The four documents the window does not use still load and draw.
TestCase {
    id: testCase
    name: "CarriedDocuments"
    when: windowShown
    width: 600
    height: 200

    function test_load_data() {
        var rows = [ { tag: "TrayBattery" }, { tag: "TrayBattery2" } ]
        // Title and SettingProperty import QtGraphicalEffects, which Qt for
        // Windows here lacks: on Windows nothing loads them at all.
        if (Qt.platform.os !== "windows")
            rows.push({ tag: "Title" }, { tag: "SettingProperty" })
        return rows
    }

    function test_load(data) {
        var component = Qt.createComponent("qrc:/qml/" + data.tag + ".qml")
        compare(component.status, Component.Ready, component.errorString())
        var item = createTemporaryObject(component, testCase)
        verify(item !== null)
    }

    Component { id: square; TrayBattery2 {} }

    function test_trayBattery2Colours() {
        var item = createTemporaryObject(square, testCase, { value: 0.14 })
        verify(Qt.colorEqual(item.color, "red"))
        item.value = 0.15
        verify(Qt.colorEqual(item.color, "#FFC107"))
        item.value = 0.51
        verify(Qt.colorEqual(item.color, "#4CAF50"))
        compare(item.width, 32)
        compare(item.radius, 5)
    }
}
