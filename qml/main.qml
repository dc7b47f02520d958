import QtQuick 2.15
import QtQuick.Window 2.15
import QtQuick.Controls 2.15
import Qt.labs.platform 1.1
import QtQuick.Layouts 1.12
import QtQuick.Controls.Material 2.12
import QtQuick.VirtualKeyboard 2.1

// The main window: one card per paired device, the system notice and the
// exit button. The native side fills it through the six functions below and
// hears from it through updateDeviceProfiles.
Window {
    id: window
    width: 640
    height: 480
    visible: true
    title: qsTr("Kestrolune")
    color: "#eff4f9"

    property var currentRow: -1
    property var deviceProfile: ({})
    property var systemNotifyValue: qsTr("蓝牙未开启")

    signal updateDeviceProfiles(string obj)
    signal updateDeviceProfile(string id, string key, var value)

    // Closing only hides the window; the tray icon brings it back.
    onClosing: {
        close.accepted = false
        window.hide()
    }

    function rowOf(deviceId) {
        for (var i = 0; i < deviceModel.count; ++i) {
            if (deviceModel.get(i).Id === deviceId)
                return i
        }
        return -1
    }

    function registerToIndex(obj) {
        console.log("registerToIndex", obj.Id)
        deviceModel.append({
            "Name": obj.Name === undefined || obj.Name === null ? "" : String(obj.Name),
            "Id": obj.Id === undefined || obj.Id === null ? "" : String(obj.Id),
            "Status": false,
            "ErrMsg": "",
            "BatteryValue": -1
        })
    }

    function unregisterFromIndex(deviceId) {
        console.log("unregisterFromIndex", deviceId)
        var row = rowOf(deviceId)
        if (row >= 0)
            deviceModel.remove(row)
    }

    function updateDeviceErrorMessage(Id, ErrorMsg) {
        var row = rowOf(Id)
        if (row >= 0)
            deviceModel.setProperty(row, "ErrMsg", ErrorMsg)
    }

    function updateSystemNotify(ErrorMsg) {
        systemNotifyValue = ErrorMsg
    }

    function updateDeviceBatteryValue(Id, bValue) {
        console.log("updateDeviceBatteryValue", Id, bValue)
        var row = rowOf(Id)
        if (row >= 0)
            deviceModel.setProperty(row, "BatteryValue", bValue)
    }

    function setDeviceProfile(json) {
        console.log("setDeviceProfile")
        deviceProfile = json
    }

    // The profile value of one key for a device; false when absent.
    function profileValue(deviceId, key) {
        var entry = deviceProfile[deviceId]
        if (entry === undefined || entry === null)
            return false
        var value = entry[key]
        return value === undefined || value === null ? false : value
    }

    function profileChanged(deviceId, key, value) {
        // An entry that is no profile object (a number, a text, a list) is
        // replaced by one holding the clicked key.
        var entry = deviceProfile[deviceId]
        if (entry === undefined || entry === null || typeof entry !== "object" || Array.isArray(entry))
            deviceProfile[deviceId] = {}
        deviceProfile[deviceId][key] = value
        updateDeviceProfiles(JSON.stringify(deviceProfile))
    }

    ListModel {
        id: deviceModel
        objectName: "deviceModel"
    }

    ListView {
        id: deviceList
        objectName: "deviceList"
        width: parent.width
        height: window.height - exitButton.height - 60
        anchors.top: parent.top
        clip: true
        model: deviceModel

        delegate: Rectangle {
            id: rowBox
            width: deviceList.width
            height: 80
            color: "#eff4f9"

            Rectangle {
                id: deviceItem
                objectName: "deviceItem"
                width: parent.width * 0.95
                height: parent.height * 0.8
                anchors.centerIn: parent
                color: index === window.currentRow ? "#f4f6f9" : "#fafcfd"
                border.color: "#e1e6ea"
                border.width: 2
                radius: 5

                MouseArea {
                    anchors.fill: parent
                    hoverEnabled: true
                    onEntered: window.currentRow = index
                }

                Text {
                    id: deviceItemName
                    objectName: "deviceItemName"
                    // Names come from the devices: never interpret them as markup.
                    text: Name
                    textFormat: Text.PlainText
                    Accessible.role: Accessible.StaticText
                    Accessible.name: Name
                    font.family: "Source Han Sans"
                    font.pixelSize: 18
                    anchors.verticalCenter: parent.verticalCenter
                    anchors.left: parent.left
                    anchors.leftMargin: 20
                    // A long name is cut short so that the error marker and
                    // the gauge stay readable left of the boxes; hovering
                    // shows it whole.
                    width: Math.min(implicitWidth, Math.max(0, deviceItemCheckTray.x - anchors.leftMargin
                        - 10 - deviceItemExclamation.width - 10 - deviceItemBattery.width - 10))
                    elide: Text.ElideRight

                    HoverHandler {
                        id: nameHover
                    }

                    ToolTip {
                        id: nameTip
                        objectName: "deviceItemNameTip"
                        visible: nameHover.hovered && deviceItemName.truncated
                        delay: 500
                        width: Math.min(implicitWidth, window.width * 0.9)
                        contentItem: Text {
                            objectName: "deviceItemNameTipText"
                            text: Name
                            textFormat: Text.PlainText
                            wrapMode: Text.WrapAnywhere
                            maximumLineCount: 8
                            elide: Text.ElideRight
                            font.family: "Source Han Sans"
                        }
                    }
                }

                Image {
                    id: deviceItemExclamation
                    objectName: "deviceItemExclamation"
                    source: "./resource/exclamation.png"
                    width: deviceItemName.height * 0.9
                    height: width
                    anchors.left: deviceItemName.right
                    anchors.leftMargin: 10
                    anchors.verticalCenter: parent.verticalCenter
                    visible: ErrMsg !== null && ErrMsg !== ""
                    Accessible.role: Accessible.StaticText
                    Accessible.name: ErrMsg === null ? "" : ErrMsg
                    Accessible.ignored: !visible

                    MouseArea {
                        id: errorArea
                        anchors.fill: parent
                        hoverEnabled: true
                        ToolTip.visible: containsMouse
                        ToolTip.text: ErrMsg
                    }
                }

                CanvasBattery {
                    id: deviceItemBattery
                    objectName: "deviceItemBattery"
                    width: 50
                    height: 20
                    anchors.left: deviceItemExclamation.right
                    anchors.leftMargin: 10
                    anchors.verticalCenter: parent.verticalCenter
                    batteryLevel: BatteryValue / 100
                    color: deviceItem.color
                    visible: BatteryValue !== null && BatteryValue !== -1
                    Accessible.role: Accessible.StaticText
                    Accessible.name: BatteryValue + "%"
                    Accessible.ignored: !visible
                    onBatteryLevelChanged: console.log("BatteryValueChange: ", BatteryValue)
                }

                MyCheckBox {
                    id: deviceItemCheckTray
                    objectName: "deviceItemCheckTray"
                    text: qsTr("托盘")
                    accessibleName: Name + " " + text
                    onActiveFocusChanged: if (activeFocus) deviceList.positionViewAtIndex(index, ListView.Contain)
                    anchors.verticalCenter: parent.verticalCenter
                    anchors.right: deviceItemCheckListen.left
                    anchors.rightMargin: 10
                    isCheck: window.profileValue(Id, "tray")
                    onInnerValueChanged: {
                        console.log("deviceItemCheckTray...", innerValue)
                        window.profileChanged(Id, "tray", innerValue)
                    }
                }

                MyCheckBox {
                    id: deviceItemCheckListen
                    objectName: "deviceItemCheckListen"
                    text: qsTr("监听")
                    accessibleName: Name + " " + text
                    onActiveFocusChanged: if (activeFocus) deviceList.positionViewAtIndex(index, ListView.Contain)
                    anchors.verticalCenter: parent.verticalCenter
                    anchors.right: parent.right
                    anchors.rightMargin: 10
                    isCheck: window.profileValue(Id, "listen")
                    onInnerValueChanged: window.profileChanged(Id, "listen", innerValue)
                }
            }
        }
    }

    Text {
        id: systemNotify
        objectName: "systemNotify"
        text: window.systemNotifyValue
        textFormat: Text.PlainText
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        color: "red"
        font.family: "Source Han Sans"
        font.pixelSize: 20
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: exitButton.top
        anchors.bottomMargin: 10
    }

    Button {
        id: exitButton
        objectName: "exitButton"
        width: window.width * 0.85
        height: 50
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 20
        z: 10
        text: qsTr("退出服务")
        Accessible.name: text
        // Tab reaches it after the rows; Space (the button's own) or Return presses it.
        onClicked: Qt.quit()
        Keys.onReturnPressed: Qt.quit()
        Keys.onEnterPressed: Qt.quit()

        background: Rectangle {
            id: exitBackground
            color: "#fefefe"
            border.color: exitButton.visualFocus ? "#1e6fd9" : "#e1e6ea"
            border.width: exitButton.visualFocus ? 2 : 1
            radius: 5

            MouseArea {
                anchors.fill: parent
                hoverEnabled: true
                onEntered: exitBackground.color = "#f6f7f9"
                onPressed: exitBackground.color = "#747576"
                onReleased: exitBackground.color = "#f6f7f9"
                onExited: exitBackground.color = "#fefefe"
                onClicked: Qt.quit()
            }
        }

        contentItem: Text {
            text: exitButton.text
            color: "black"
            font.family: "Source Han Sans"
            font.pixelSize: 18
            font.weight: Font.ExtraBold
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    SystemTrayIcon {
        id: trayWindow
        objectName: "trayWindow"
        visible: true
        icon.source: "./resource/AirPods.png"
        onActivated: {
            if (window.visible) {
                window.hide()
            } else {
                window.show()
                window.raise()
                window.requestActivate()
            }
        }
    }
}
