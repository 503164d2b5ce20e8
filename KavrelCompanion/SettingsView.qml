import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window

// The companion's only window. It holds no state of its own beyond the two confirmations: every
// control reads and writes `model` (the companion), `helper` (the connector), `login` (start at login)
// and `desktop` (the tray, and the texts that name this computer). Its size is set by SettingsWindow.
Window {
    id: window
    title: "Kavrel Companion"
    flags: Qt.Dialog | Qt.WindowTitleHint | Qt.WindowCloseButtonHint | Qt.WindowMinimizeButtonHint

    // Tab may move focus below the visible part of the view: bring it into sight.
    onActiveFocusItemChanged: scroll.reveal(activeFocusItem)

    // Text styles: the platform's body font scaled as the familiar title-2, callout, caption and
    // caption-2 styles are.
    readonly property real bodySize: Qt.application.font.pixelSize > 0 ? Qt.application.font.pixelSize : 13
    readonly property color secondary: palette.placeholderText

    // Enter presses the focused button as Space does. Controls are named for screen readers by what
    // the eye reads ("&&" shows one "&"), explicitly: a reader started after the window would
    // otherwise hear buttons and switches without a name.
    component KeyButton: Button {
        Keys.onReturnPressed: clicked()
        Keys.onEnterPressed: clicked()
        Accessible.name: text.replace(/&(&?)/g, "$1")
    }
    component NamedSwitch: Switch { Accessible.name: text }

    // Escape cancels. Focus starts on Cancel, so Enter alone never confirms what cannot be undone;
    // Tab reaches the confirming button.
    component Confirmation: Dialog {
        id: confirmation
        property alias message: messageLabel.text
        property alias confirmText: confirmButton.text
        signal confirmed()
        anchors.centerIn: parent
        modal: true
        focus: true
        closePolicy: Popup.CloseOnEscape
        onOpened: cancelButton.forceActiveFocus()
        Label { id: messageLabel; width: 400; wrapMode: Text.Wrap }
        footer: DialogButtonBox {
            KeyButton {
                id: cancelButton
                objectName: "cancel"
                text: "Cancel"
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
            KeyButton {
                id: confirmButton
                objectName: "confirm"
                DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
                onClicked: {
                    confirmation.close()
                    confirmation.confirmed()
                }
            }
        }
    }

    component Callout: Label { font.pixelSize: window.bodySize; wrapMode: Text.Wrap; Layout.fillWidth: true }
    component Caption: Label { font.pixelSize: window.bodySize - 2; wrapMode: Text.Wrap; Layout.fillWidth: true }
    // Screen readers announce the title with every control inside the group.
    component Section: GroupBox {
        default property alias content: column.data
        Layout.fillWidth: true
        Accessible.role: Accessible.Grouping
        Accessible.name: title
        ColumnLayout {
            id: column
            anchors.fill: parent
            anchors.margins: 6
            spacing: 10
        }
    }

    ScrollView {
        id: scroll
        anchors.fill: parent
        contentWidth: availableWidth
        // The padding around the content counts, or the last lines end up under the window's edge.
        contentHeight: content.implicitHeight + 48
        ScrollBar.vertical.policy: ScrollBar.AlwaysOn

        function reveal(item) {
            let inside = item
            while (inside && inside !== content) {
                inside = inside.parent
            }
            if (!inside) {
                return
            }
            const flick = scroll.contentItem
            const margin = 12
            const top = item.mapToItem(flick.contentItem, 0, 0).y - margin
            const bottom = top + item.height + 2 * margin
            if (top < flick.contentY) {
                flick.contentY = Math.max(0, top)
            } else if (bottom > flick.contentY + flick.height) {
                flick.contentY = Math.min(flick.contentHeight - flick.height, bottom - flick.height)
            }
        }

        ColumnLayout {
            id: content
            width: scroll.availableWidth - 48
            x: 24
            y: 24
            spacing: 20

            RowLayout {
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignTop
                Image {
                    source: "qrc:/kavrel-companion.svg"
                    sourceSize: Qt.size(30, 30)
                    Layout.alignment: Qt.AlignTop
                }
                ColumnLayout {
                    spacing: 4
                    Label {
                        text: "Kavrel Companion"
                        font.pixelSize: window.bodySize + 7
                        font.family: "serif"
                        font.bold: true
                    }
                    Label { text: "Your music. A little closer."; color: window.secondary }
                }
                Item { Layout.fillWidth: true }
            }

            Section {
                title: "Connection"
                Callout { objectName: "helperMessage"; text: helper.message }
                Caption {
                    objectName: "helperReady"
                    text: helper.ready ? "Local helper: ready" : "Local helper: unavailable"
                }
                Caption {
                    objectName: "connectionMusicState"
                    visible: model.appleMusicEnabled
                    text: model.musicState
                    color: window.secondary
                }
                Callout {
                    objectName: "scrobbling"
                    visible: model.appleMusicEnabled
                    text: helper.scrobblingMessage
                    color: window.secondary
                }
                Caption { objectName: "paired"; visible: text !== ""; text: helper.pairedLine }
                Callout { objectName: "cloud"; visible: text !== ""; text: helper.cloudMessage }
                KeyButton {
                    objectName: "checkConnection"
                    visible: helper.termsPending
                    text: "Check connection"
                    onClicked: helper.checkConnection()
                }
                Caption { objectName: "running"; visible: text !== ""; text: helper.runningLine }
                TextField {
                    objectName: "originField"
                    Layout.fillWidth: true
                    placeholderText: "Kavrel HTTPS origin"
                    Accessible.name: placeholderText
                    text: model.bridgeOrigin
                    onTextEdited: model.bridgeOrigin = text
                }
                NamedSwitch {
                    objectName: "roonSwitch"
                    text: "Connect Roon"
                    checked: model.roonEnabled
                    enabled: !model.busy
                    onToggled: {
                        model.setRoonEnabled(checked)
                        checked = Qt.binding(() => model.roonEnabled)
                    }
                }
                TextField {
                    objectName: "roonHostField"
                    visible: model.roonEnabled
                    Layout.fillWidth: true
                    placeholderText: "Roon host:port (optional; blank discovers on LAN)"
                    Accessible.name: "Roon host:port"
                    Accessible.description: "Optional; blank discovers on LAN"
                    text: model.roonHost
                    onTextEdited: model.roonHost = text
                }
                RowLayout {
                    visible: model.roonEnabled
                    KeyButton {
                        objectName: "findRoon"
                        text: "Find Roon Server"
                        enabled: helper.ready && !model.roonSearching
                        onClicked: model.findRoonServer()
                    }
                    BusyIndicator {
                        objectName: "findingRoon"
                        visible: model.roonSearching
                        running: visible
                        implicitWidth: 20
                        implicitHeight: 20
                        Accessible.name: "Finding Roon Server"
                    }
                }
                Caption {
                    objectName: "roonDiscovery"
                    visible: model.roonEnabled
                    text: model.roonDiscoveryMessage
                    color: window.secondary
                }
                RowLayout {
                    KeyButton {
                        objectName: "saveAndConnect"
                        text: "Save && connect" // "&&" shows one "&"; a single one marks a mnemonic
                        enabled: helper.ready && !model.busy
                        onClicked: model.connectToService()
                    }
                    KeyButton { objectName: "reconnect"; text: "Reconnect"; onClicked: helper.reconnect() }
                    KeyButton { objectName: "openKavrel"; text: "Open Kavrel"; onClicked: model.openKavrel() }
                }
            }

            Section {
                title: "Pair with Kavrel"
                Callout { objectName: "pairingHelp"; text: desktop.wording.pairingHelp }
                TextField {
                    objectName: "pairingField"
                    Layout.fillWidth: true
                    placeholderText: "One-use pairing code"
                    Accessible.name: placeholderText
                    text: model.pairingCode
                    onTextEdited: model.pairingCode = text
                }
                RowLayout {
                    KeyButton {
                        objectName: "pair"
                        text: "Pair"
                        enabled: helper.ready && !model.busy && model.pairingCode !== ""
                        onClicked: model.pair(false)
                    }
                    KeyButton {
                        objectName: "replacePairing"
                        text: "Replace pairing…"
                        enabled: helper.ready && !model.busy && model.pairingCode !== ""
                        onClicked: replaceConfirmation.open()
                    }
                    KeyButton {
                        objectName: "resetRoon"
                        text: "Reset Roon…"
                        enabled: helper.ready && !model.busy
                        onClicked: resetConfirmation.open()
                    }
                }
            }

            Section {
                objectName: "musicGroup"
                title: desktop.wording.musicGroup
                NamedSwitch {
                    objectName: "musicSwitch"
                    text: desktop.wording.musicSwitch
                    checked: model.appleMusicEnabled
                    enabled: !model.busy
                    onToggled: {
                        model.setAppleMusicEnabled(checked)
                        checked = Qt.binding(() => model.appleMusicEnabled)
                    }
                }
                Callout { objectName: "musicExplanation"; text: desktop.wording.musicExplanation; color: window.secondary }
                Callout { objectName: "musicState"; visible: model.appleMusicEnabled; text: model.musicState }
                KeyButton {
                    objectName: "allowMusic"
                    visible: model.appleMusicEnabled
                    text: "Allow Music access…"
                    onClicked: model.allowMusic()
                }
                KeyButton {
                    objectName: "copyDiagnostics"
                    visible: model.appleMusicEnabled
                    text: "Copy Music diagnostics"
                    onClicked: model.copyMusicDiagnostics()
                }
                Caption {
                    objectName: "musicPairingHint"
                    visible: model.appleMusicEnabled
                    text: desktop.wording.musicPairingHint
                    color: window.secondary
                }
            }

            Section {
                objectName: "computerGroup"
                title: desktop.wording.computerGroup
                NamedSwitch {
                    objectName: "loginSwitch"
                    text: "Start at login"
                    checked: login.enabled
                    onToggled: {
                        login.setEnabled(checked)
                        checked = Qt.binding(() => login.enabled)
                    }
                }
                Caption { objectName: "closing"; text: desktop.closingText; color: window.secondary }
                Caption { objectName: "loginNotice"; visible: text !== ""; text: login.notice }
                // Without a tray nothing else can end the companion once this window is closed.
                KeyButton {
                    objectName: "quitKavrel"
                    visible: !desktop.trayAvailable
                    text: "Quit Kavrel"
                    onClicked: desktop.quit()
                }
            }

            Callout { objectName: "notice"; visible: text !== ""; text: model.notice }
            Label {
                objectName: "platformLine"
                text: desktop.wording.platformLine
                font.pixelSize: window.bodySize - 3
                color: window.secondary
            }
        }
    }

    Confirmation {
        id: replaceConfirmation
        objectName: "replaceConfirmation"
        title: "Replace this companion’s cloud pairing?"
        message: "The old pairing stays in place unless the new code succeeds. Enable sources for the new account afterward."
        confirmText: "Replace pairing"
        onConfirmed: model.pair(true)
    }

    Confirmation {
        id: resetConfirmation
        objectName: "resetConfirmation"
        title: "Reset Roon authorization?"
        message: "Approve the extension again in Roon afterward. Your cloud pairing is preserved."
        confirmText: "Reset"
        onConfirmed: model.resetRoon()
    }
}
