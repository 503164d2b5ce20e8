import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window

// The companion's only window. It holds no state of its own beyond the two confirmations: every
// control reads and writes `model` (the companion), `helper` (the connector) and `login` (start at login).
Window {
    id: window
    title: "Kavrel Companion"
    width: 560
    height: 620
    minimumWidth: 560
    maximumWidth: 560
    minimumHeight: 620
    maximumHeight: 620
    flags: Qt.Dialog | Qt.WindowTitleHint | Qt.WindowCloseButtonHint | Qt.WindowMinimizeButtonHint

    // Text styles: the platform's body font scaled as the familiar title-2, callout, caption and
    // caption-2 styles are.
    readonly property real bodySize: Qt.application.font.pixelSize > 0 ? Qt.application.font.pixelSize : 13
    readonly property color secondary: palette.placeholderText

    component Callout: Label { font.pixelSize: window.bodySize; wrapMode: Text.Wrap; Layout.fillWidth: true }
    component Caption: Label { font.pixelSize: window.bodySize - 2; wrapMode: Text.Wrap; Layout.fillWidth: true }
    component Section: GroupBox {
        default property alias content: column.data
        Layout.fillWidth: true
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
                Button {
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
                    text: model.bridgeOrigin
                    onTextEdited: model.bridgeOrigin = text
                }
                Switch {
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
                    text: model.roonHost
                    onTextEdited: model.roonHost = text
                }
                RowLayout {
                    visible: model.roonEnabled
                    Button {
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
                    Button {
                        objectName: "saveAndConnect"
                        text: "Save && connect" // "&&" shows one "&"; a single one marks a mnemonic
                        enabled: helper.ready && !model.busy
                        onClicked: model.connectToService()
                    }
                    Button { objectName: "reconnect"; text: "Reconnect"; onClicked: helper.reconnect() }
                    Button { objectName: "openKavrel"; text: "Open Kavrel"; onClicked: model.openKavrel() }
                }
            }

            Section {
                title: "Pair with Kavrel"
                Callout {
                    text: "Create a companion pairing code in Kavrel Settings, enter it here, and choose Pair. Then enable your sources in Kavrel. For Roon, also approve this Mac in Roon → Settings → Extensions."
                }
                TextField {
                    objectName: "pairingField"
                    Layout.fillWidth: true
                    placeholderText: "One-use pairing code"
                    text: model.pairingCode
                    onTextEdited: model.pairingCode = text
                }
                RowLayout {
                    Button {
                        objectName: "pair"
                        text: "Pair"
                        enabled: helper.ready && !model.busy && model.pairingCode !== ""
                        onClicked: model.pair(false)
                    }
                    Button {
                        objectName: "replacePairing"
                        text: "Replace pairing…"
                        enabled: helper.ready && !model.busy && model.pairingCode !== ""
                        onClicked: replaceConfirmation.open()
                    }
                    Button {
                        objectName: "resetRoon"
                        text: "Reset Roon…"
                        enabled: helper.ready && !model.busy
                        onClicked: resetConfirmation.open()
                    }
                }
            }

            Section {
                title: "Apple Music · beta"
                Switch {
                    objectName: "musicSwitch"
                    text: "Share what’s playing on this Mac"
                    checked: model.appleMusicEnabled
                    enabled: !model.busy
                    onToggled: {
                        model.setAppleMusicEnabled(checked)
                        checked = Qt.binding(() => model.appleMusicEnabled)
                    }
                }
                Callout {
                    text: "Shows playback from the Music app in Kavrel. Supported library songs and captured Apple Music streams can be favorited there. Choose Apple Music, Last.fm, or Both as the heart destination in Kavrel Settings. Optional Last.fm scrobbling is configured in Kavrel Settings."
                    color: window.secondary
                }
                Callout { objectName: "musicState"; visible: model.appleMusicEnabled; text: model.musicState }
                Button {
                    objectName: "allowMusic"
                    visible: model.appleMusicEnabled
                    text: "Allow Music access…"
                    onClicked: model.allowMusic()
                }
                Button {
                    objectName: "copyDiagnostics"
                    visible: model.appleMusicEnabled
                    text: "Copy Music diagnostics"
                    onClicked: model.copyMusicDiagnostics()
                }
                Caption {
                    visible: model.appleMusicEnabled
                    text: "Pair this companion, allow Automation access, and enable Apple Music in Kavrel Settings."
                    color: window.secondary
                }
            }

            Section {
                title: "On this Mac"
                Switch {
                    objectName: "loginSwitch"
                    text: "Start at login"
                    checked: login.enabled
                    onToggled: {
                        login.setEnabled(checked)
                        checked = Qt.binding(() => login.enabled)
                    }
                }
                Caption {
                    text: "Off by default. Closing this window keeps the companion in your menu bar. Choose Quit Kavrel to stop it."
                    color: window.secondary
                }
                Caption { objectName: "loginNotice"; visible: text !== ""; text: login.notice }
            }

            Callout { objectName: "notice"; visible: text !== ""; text: model.notice }
            Label {
                text: "Beta · macOS 14 or later"
                font.pixelSize: window.bodySize - 3
                color: window.secondary
            }
        }
    }

    Dialog {
        id: replaceConfirmation
        objectName: "replaceConfirmation"
        anchors.centerIn: parent
        modal: true
        title: "Replace this companion’s cloud pairing?"
        Label {
            width: 400
            wrapMode: Text.Wrap
            text: "The old pairing stays in place unless the new code succeeds. Enable sources for the new account afterward."
        }
        footer: DialogButtonBox {
            Button { text: "Cancel"; DialogButtonBox.buttonRole: DialogButtonBox.RejectRole }
            Button {
                objectName: "confirmReplace"
                text: "Replace pairing"
                DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
                onClicked: {
                    replaceConfirmation.close()
                    model.pair(true)
                }
            }
        }
    }

    Dialog {
        id: resetConfirmation
        objectName: "resetConfirmation"
        anchors.centerIn: parent
        modal: true
        title: "Reset Roon authorization?"
        Label {
            width: 400
            wrapMode: Text.Wrap
            text: "Approve the extension again in Roon afterward. Your cloud pairing is preserved."
        }
        footer: DialogButtonBox {
            Button { text: "Cancel"; DialogButtonBox.buttonRole: DialogButtonBox.RejectRole }
            Button {
                objectName: "confirmReset"
                text: "Reset"
                DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
                onClicked: {
                    resetConfirmation.close()
                    model.resetRoon()
                }
            }
        }
    }
}
