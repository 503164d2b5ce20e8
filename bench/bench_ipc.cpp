// Throughput of the connector wire format: decoding a stream delivered in pipe-sized chunks and
// encoding envelopes, against simdjson parsing the same lines alone as the reference.
#include "CompanionCore/ipc/Envelope.hpp"
#include "CompanionCore/ipc/JSONLDecoder.hpp"

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using kavrel::Envelope;
using kavrel::JSONArray;
using kavrel::JSONObject;

constexpr std::size_t chunkSize = 8'192;
constexpr std::size_t linesPerStream = 64;

std::string base64(std::size_t bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::mt19937_64 random(42);
    std::string text;
    text.reserve((bytes + 2) / 3 * 4);
    for (std::size_t index = 0; index < bytes; index += 3) {
        const auto triple = static_cast<std::uint32_t>(random() & 0xFFFFFF);
        for (int shift = 18; shift >= 0; shift -= 6) {
            text += alphabet[(triple >> shift) & 0x3F];
        }
    }
    return text;
}

// About 1 KB: a status push with cloud, scrobbling and Roon details.
Envelope statusEnvelope(int sequence) {
    JSONArray zones;
    for (int zone = 0; zone < 4; ++zone) {
        zones.push_back(JSONObject{{"id", "zone-" + std::to_string(zone)},
                                   {"name", "Living Room " + std::to_string(zone)},
                                   {"state", "playing"},
                                   {"volume", 0.35 + zone / 10.0}});
    }
    return Envelope(
        "3F2504E0-4F89-11D3-9A0C-0305E82C33" + std::to_string(10 + sequence % 90), "status",
        {{"cloud", JSONObject{{"state", "connected"},
                              {"account", "listener@example.org"},
                              {"lastError", nullptr},
                              {"updatedAt", 1718000000000.0 + sequence}}},
         {"scrobbling", JSONObject{{"enabled", true},
                                   {"user", "listener"},
                                   {"pending", 3},
                                   {"lastTrack", "Nocturne in E-flat major, Op. 9 No. 2 — Arrau"}}},
         {"roon", JSONObject{{"host", "192.0.2.10:9330"}, {"paired", true}, {"zones", zones}}},
         {"native", JSONObject{{"generation", "9C5B94B1-35AD-49BB-B118-8E8FC24ABF80"},
                               {"sequence", sequence},
                               {"running", true},
                               {"track", JSONObject{{"title", "Goldberg Variations, BWV 988: Aria"},
                                                    {"artist", "Glenn Gould"},
                                                    {"album", "Bach: The Goldberg Variations (1981)"},
                                                    {"duration", 185.2},
                                                    {"position", 42.5},
                                                    {"favorite", false}}}}}});
}

// About 90 KB: a result carrying Base64 artwork.
Envelope artworkEnvelope(int sequence) {
    return Envelope("6FA459EA-EE8A-3CA4-894E-DB77E160355" + std::to_string(sequence % 10), "result",
                    {{"ok", true},
                     {"data", JSONObject{{"artwork", base64(67'000)},
                                         {"mime", "image/jpeg"},
                                         {"title", "Goldberg Variations, BWV 988: Aria"},
                                         {"sequence", sequence}}}});
}

template <class Make> std::vector<Envelope> envelopes(Make make) {
    std::vector<Envelope> list;
    for (int index = 0; index < static_cast<int>(linesPerStream); ++index) {
        list.push_back(make(index));
    }
    return list;
}

std::string streamOf(const std::vector<Envelope>& list) {
    std::string stream;
    for (const Envelope& envelope : list) {
        stream += envelope.encodedLine();
    }
    return stream;
}

void decodeStream(benchmark::State& state, const std::vector<Envelope>& list) {
    const std::string stream = streamOf(list);
    // One decoder for the whole run, as a connector's lifetime has; each pass ends on a line feed.
    kavrel::JSONLDecoder decoder;
    for (auto _ : state) {
        std::size_t decoded = 0;
        for (std::size_t offset = 0; offset < stream.size(); offset += chunkSize) {
            decoded += decoder.append(std::string_view(stream).substr(offset, chunkSize)).size();
        }
        benchmark::DoNotOptimize(decoded);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.counters["line_bytes"] = static_cast<double>(stream.size() / list.size());
}

// The reference: simdjson's DOM parse of each line, already split and padded, nothing converted.
void simdjsonParse(benchmark::State& state, const std::vector<Envelope>& list) {
    std::vector<simdjson::padded_string> lines;
    std::size_t bytes = 0;
    for (const Envelope& envelope : list) {
        std::string line = envelope.encodedLine();
        bytes += line.size();
        line.pop_back();
        lines.emplace_back(line);
    }
    simdjson::dom::parser parser;
    for (auto _ : state) {
        for (const simdjson::padded_string& line : lines) {
            auto document = parser.parse(line);
            benchmark::DoNotOptimize(document.error());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void encode(benchmark::State& state, const std::vector<Envelope>& list) {
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (const Envelope& envelope : list) {
            const std::string line = envelope.encodedLine();
            bytes += line.size();
            benchmark::DoNotOptimize(line.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

const std::vector<Envelope>& statusFrames() {
    static const std::vector<Envelope> list = envelopes(statusEnvelope);
    return list;
}

const std::vector<Envelope>& artworkFrames() {
    static const std::vector<Envelope> list = envelopes(artworkEnvelope);
    return list;
}

void BM_DecodeStatusFrames(benchmark::State& state) {
    decodeStream(state, statusFrames());
}
void BM_SimdjsonParseStatusFrames(benchmark::State& state) {
    simdjsonParse(state, statusFrames());
}
void BM_EncodeStatusFrames(benchmark::State& state) {
    encode(state, statusFrames());
}
void BM_DecodeArtworkFrames(benchmark::State& state) {
    decodeStream(state, artworkFrames());
}
void BM_SimdjsonParseArtworkFrames(benchmark::State& state) {
    simdjsonParse(state, artworkFrames());
}
void BM_EncodeArtworkFrames(benchmark::State& state) {
    encode(state, artworkFrames());
}

BENCHMARK(BM_DecodeStatusFrames);
BENCHMARK(BM_SimdjsonParseStatusFrames);
BENCHMARK(BM_EncodeStatusFrames);
BENCHMARK(BM_DecodeArtworkFrames);
BENCHMARK(BM_SimdjsonParseArtworkFrames);
BENCHMARK(BM_EncodeArtworkFrames);

} // namespace
