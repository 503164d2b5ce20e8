#include "platform/MusicSourceHarness.hpp"

#include <cstdlib>
#include <thread>

namespace kavrel {

void MusicSourceTest::SetUpTestSuite() {
    if (PrivateSessionBus::inside() && QCoreApplication::instance() == nullptr) {
        // QtDBus wants an application object; it lives as long as the process.
        static int argc = 1;
        static char name[] = "CompanionTests";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);
    }
}

void MusicSourceTest::SetUp() {
    if (!PrivateSessionBus::inside()) {
        GTEST_SKIP() << "runs only inside the private session bus that an outer test starts";
    }
    bridge = makeBridge(app);
}

std::unique_ptr<KVMusicBridge>
MusicSourceTest::makeBridge(MprisMusicApp& target, KVMusicBridge::ArtworkEncoder artwork, bool realTime) {
    static int references = 0;
    KVMusicBridge::Ports ports{target, target.scriptingFactory(),
                               [] { return "REF-" + std::to_string(++references); }, std::move(artwork)};
    if (realTime) {
        return std::make_unique<KVMusicBridge>(std::move(ports));
    }
    return std::make_unique<KVMusicBridge>(std::move(ports),
                                           KVMusicBridge::Timing{[this] { return now; },
                                                                 [this] { return 1.7e12 + now * 1000; },
                                                                 [this](double seconds) {
                                                                     now += seconds;
                                                                 }});
}

const KVDictionary& MusicSourceTest::trackOf(const KVDictionary& snapshot) {
    static const KVDictionary none;
    const KVValue* track = snapshot.find("track");
    return track != nullptr && track->dictionary() != nullptr ? *track->dictionary() : none;
}

std::string MusicSourceTest::shown(const KVDictionary& object, std::string_view key) {
    const KVValue* value = object.find(key);
    if (value == nullptr) {
        return "<none>";
    }
    if (value->boolean() != nullptr) {
        return *value->boolean() ? "true" : "false";
    }
    if (value->number() != nullptr) {
        return std::to_string(static_cast<long long>(*value->number()));
    }
    return value->isNull() ? "null" : value->string() != nullptr ? *value->string() : "<other>";
}

std::string MusicSourceTest::failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const MusicBridgeError& error) {
        return error.machineCode();
    }
    return "";
}

KVDictionary MusicSourceTest::readUntil(const std::function<bool(const KVDictionary&)>& until,
                                        std::chrono::seconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end) {
        KVDictionary snapshot;
        if (failureOf([&] { snapshot = bridge->readSnapshot(); }).empty() && until(snapshot)) {
            return snapshot;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

RealPlayer::RealPlayer() : environment(QProcessEnvironment::systemEnvironment()) {
    const QString home = QString::fromStdString(directory().string());
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + "/.config");
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + "/.local/share");
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + "/.cache");
    environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    environment.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice()); // players are chatty without a desktop
    const std::string make = "sox -n -r 44100 -c 2 '" + tone() + "' synth 60 sine 440 && metaflac " +
                             "--set-tag=TITLE='Test Tone' --set-tag=ARTIST='Sine Ensemble' " +
                             "--set-tag=ALBUM=Waveforms '" + tone() + "'";
    EXPECT_EQ(std::system(make.c_str()), 0);
}

RealPlayer::~RealPlayer() {
    process.kill();
    process.waitForFinished();
}

bool RealPlayer::installed(const std::vector<std::string>& programs) {
    std::string command = "true";
    for (const std::string& program : programs) {
        command += " && command -v " + program + " >/dev/null";
    }
    return std::system(command.c_str()) == 0;
}

void RealPlayer::start(const QString& program, const QStringList& arguments) {
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForStarted());
}

bool RealPlayer::registered(const std::string& busName) {
    return run("gdbus wait --session --timeout 30 " + busName + " && echo owned") == "owned";
}

std::string RealPlayer::run(const std::string& command) {
    QProcess shell;
    shell.setProcessEnvironment(environment);
    shell.setStandardErrorFile(QProcess::nullDevice());
    shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), QString::fromStdString(command)});
    EXPECT_TRUE(shell.waitForFinished(30'000)) << command;
    return shell.readAllStandardOutput().trimmed().toStdString();
}

} // namespace kavrel
