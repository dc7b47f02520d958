import QtQuick 2.15
import QtTest 1.15
import "qrc:/qml"

TestCase {
    id: testCase
    name: "CanvasBattery"
    when: windowShown
    width: 200
    height: 100

    Component {
        id: gauge
        CanvasBattery { width: 50; height: 20 }
    }

    function test_levelColours_data() {
        return [
            { tag: "0.14", level: 0.14, colour: "red" },
            { tag: "0.15", level: 0.15, colour: "#FFC107" },
            { tag: "0.5", level: 0.5, colour: "#FFC107" },
            { tag: "0.51", level: 0.51, colour: "#4CAF50" },
            { tag: "1", level: 1, colour: "#4CAF50" }
        ]
    }

    function test_levelColours(data) {
        var g = createTemporaryObject(gauge, testCase, { batteryLevel: data.level })
        verify(Qt.colorEqual(findChild(g, "levelBar").color, data.colour),
               "level " + data.level + " drawn in " + findChild(g, "levelBar").color)
    }

    function test_percentTextForEveryLevel() {
        var g = createTemporaryObject(gauge, testCase)
        var text = findChild(g, "percentText")
        for (var k = 0; k <= 100; ++k) {
            g.batteryLevel = k / 100
            compare(text.text, k + "%")
        }
        g.batteryLevel = 1.5
        compare(text.text, "150%")
        g.batteryLevel = -0.05
        compare(text.text, "-5%")
        verify(!findChild(g, "levelBar").visible)
    }

    function test_geometry() {
        var g = createTemporaryObject(gauge, testCase, { batteryLevel: 1 })
        var body = findChild(g, "body")
        var bar = findChild(g, "levelBar")
        var head = findChild(g, "head")
        fuzzyCompare(body.width, 47.5, 0.001)
        compare(body.height, 18)
        fuzzyCompare(bar.width, 45.5, 0.001)
        compare(bar.height, 16)
        compare(bar.x, 1)
        fuzzyCompare(head.width, 2.5, 0.001)
        compare(head.height, 10)
        fuzzyCompare(head.x, body.x + body.width, 0.001)
        g.batteryLevel = 0.2
        fuzzyCompare(bar.width, 45.5 * 0.2, 0.001)
        g.batteryLevel = 0
        compare(bar.width, 0)
        verify(!bar.visible)
        compare(findChild(g, "percentText").text, "0%")
    }
}
