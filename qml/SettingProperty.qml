import QtQuick 2.15
import QtQuick.Controls 2.15
import QtGraphicalEffects 1.15

// A labelled text field for one setting. Not used by the window.
Rectangle {
    id: root
    width: 500
    height: 50

    property string properyName: ""
    property string properyValue: ""
    property bool isEdit: false

    signal editProperyValue(string value)

    layer.enabled: isEdit
    layer.effect: Glow {
        radius: 4
        samples: 9
        color: "#40727CF5"
    }

    Text {
        id: label
        text: root.properyName
        font.family: "Source Han Sans"
        font.bold: true
        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
    }

    TextField {
        anchors.left: label.right
        anchors.leftMargin: 15
        anchors.verticalCenter: parent.verticalCenter
        width: root.width - label.width - 15
        text: root.properyValue
        placeholderText: qsTr("请输入值")
        font.family: "Source Han Sans"
        readOnly: !root.isEdit
        background: Rectangle {
            border.color: "#727CF5"
            border.width: 1
            radius: 3
        }
        onTextChanged: root.editProperyValue(text)
    }
}
