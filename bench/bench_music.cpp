// CPU cost of the music controller's hot paths: one poll tick (read, stamp, publish) against an
// access object that returns a realistic snapshot, with and without cached artwork attached, and the
// thumbnail of a 3000 × 3000 JPEG cover.
#include "CompanionCore/music/NativeMusicController.hpp"
#include "Platform/QtImageThumbnailer.hpp"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <deque>
#include <memory>
#include <random>
#include <string>

namespace {

using namespace kavrel;

// Runs queued work only when asked, and hands out the repeating task so that one benchmark
// iteration is exactly one tick.
class SteppedQueue final : public SerialQueue {
public:
    const std::string& label() const override { return name; }
    void async(Task task) override { tasks.push_back(std::move(task)); }
    Cancellable after(std::chrono::milliseconds, Task task) override {
        tasks.push_back(std::move(task));
        return {};
    }
    Cancellable every(std::chrono::milliseconds, Task task) override {
        repeating = std::move(task);
        return Cancellable([this] { repeating = nullptr; });
    }
    void drain() {
        while (!tasks.empty()) {
            auto task = std::move(tasks.front());
            tasks.pop_front();
            task();
        }
    }
    void fire() { repeating(); }

private:
    std::string name = "bench";
    std::deque<Task> tasks;
    Task repeating;
};

std::string base64Text(std::size_t length) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::mt19937 random(7);
    std::string text(length, 'A');
    for (auto& character : text) {
        character = alphabet[random() % 64];
    }
    return text;
}

// What the bridge reports for a playing track, already as JSON values.
JSONObject realisticSnapshot() {
    return JSONObject{{"provider", "applemusic"},
                      {"state", "playing"},
                      {"updatedAt", 1'718'000'000'123.0},
                      {"positionMs", 73'512.0},
                      {"durationMs", 312'000.0},
                      {"track", JSONObject{{"trackRef", "3F2504E0-4F89-11D3-9A0C-0305E82C3301"},
                                           {"name", "Goldberg Variations, BWV 988: Aria da capo"},
                                           {"artist", "Glenn Gould"},
                                           {"album", "Bach: The Goldberg Variations (1981 Recording)"},
                                           {"favorited", true},
                                           {"favoriteWritable", true}}}};
}

class BenchAccess final : public MusicAccess {
public:
    using MusicAccess::favorite;
    explicit BenchAccess(std::optional<std::string> artwork) : artwork(std::move(artwork)) {}

    JSONObject snapshot() override { return reading; }
    std::optional<JSONObject> artworkSnapshot() override {
        if (!artwork) {
            return std::nullopt;
        }
        auto withArtwork = reading;
        withArtwork["track"].object()->insert_or_assign("artworkBase64", *artwork);
        return withArtwork;
    }
    bool favorite(const std::string&) override { return true; }
    bool setFavorite(const std::string&, bool desired, const Admission&) override { return desired; }

private:
    JSONObject reading = realisticSnapshot();
    std::optional<std::string> artwork;
};

void tickBenchmark(benchmark::State& state, std::optional<std::string> artwork) {
    SteppedQueue queue;
    SteppedQueue artworkQueue;
    auto controller = NativeMusicController::create(
        std::make_shared<BenchAccess>(std::move(artwork)), [] { return std::chrono::system_clock::now(); },
        queue, artworkQueue);
    std::size_t published = 0;
    controller->start([&](const JSONObject& snapshot) { published += snapshot.size(); });
    // The first tick and the artwork fetch it starts, so that later ticks find the cache filled.
    queue.drain();
    artworkQueue.drain();
    queue.drain();
    for (auto _ : state) {
        queue.fire();
    }
    benchmark::DoNotOptimize(published);
    controller->stop();
}

void BM_Tick(benchmark::State& state) {
    tickBenchmark(state, std::nullopt);
}
BENCHMARK(BM_Tick)->Unit(benchmark::kMicrosecond);

// Cached artwork (the size of a 256-pixel JPEG's Base64 text) travels in every snapshot.
void BM_TickWithCachedArtwork(benchmark::State& state) {
    tickBenchmark(state, base64Text(53'000));
}
BENCHMARK(BM_TickWithCachedArtwork)->Unit(benchmark::kMicrosecond);

// A photograph-like cover: smooth gradients with grain. The grain sets the JPEG's size, which the
// decoding time follows: 6 gives about 1.2 MB, typical of a 3000-pixel cover; 24 about 3.4 MB.
std::string coverJPEG(int side, int grainLevels) {
    QImage image(side, side, QImage::Format_RGB32);
    std::mt19937 random(11);
    for (int y = 0; y < side; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < side; ++x) {
            const int grain = static_cast<int>(random() % static_cast<unsigned>(grainLevels));
            line[x] = qRgb((x * 255 / side + grain) % 256, (y * 255 / side + grain) % 256, (x + y) % 256);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    writer.write(image);
    return bytes.toStdString();
}

void BM_Thumbnail3000(benchmark::State& state) {
    const auto cover = coverJPEG(3000, static_cast<int>(state.range(0)));
    const QtImageThumbnailer thumbnailer;
    std::size_t produced = 0;
    for (auto _ : state) {
        const auto thumbnail = thumbnailer.thumbnailBase64(cover);
        if (!thumbnail) {
            state.SkipWithError("the cover was refused");
            break;
        }
        produced = thumbnail->size();
    }
    state.counters["inputKB"] = static_cast<double>(cover.size()) / 1024.0;
    state.counters["outputKB"] = static_cast<double>(produced) / 1024.0;
}
BENCHMARK(BM_Thumbnail3000)->ArgName("grain")->Arg(6)->Arg(24)->Unit(benchmark::kMillisecond);

} // namespace
