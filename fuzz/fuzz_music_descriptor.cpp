// Builds descriptor trees from the fuzzer's bytes, mostly object specifiers with plausible and
// broken fields, nested deeper than the diagnostics follow, and runs every inspection function over
// them. Each tree is built twice, the second time with every byte of every key ('seld') changed
// (same type, same size, zero where it was zero): the answers must not change, which proves that no
// output carries key data. The outputs must also keep their documented shape.

#include "MusicBridge/KVMusicDescriptor.hpp"
#include "MusicBridge/events/FourCharCode.hpp"
#include "fuzz/FuzzInvariant.hpp"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace kavrel;

// Deep enough to pass the eight object levels the chain follows.
constexpr int maxDepth = 12;

constexpr std::array classes{music::classFileTrack,    music::classURLTrack,
                             music::classSharedTrack,  music::classSource,
                             music::classUserPlaylist, music::classSubscriptionPlaylist,
                             music::classTrack,        music::classLibraryPlaylist};
constexpr std::array forms{ae::formUniqueID, ae::formAbsolutePosition, ae::formPropertyID};
constexpr std::array types{ae::typeNull,     ae::typeLong,    ae::typeComp, ae::typeType,
                           ae::typeEnum,     ae::typeBoolean, ae::typeTrue, ae::typeFalse,
                           ae::typeUTF8Text, ae::typeRecord,  ae::typeList, ae::typeObjectSpecifier,
                           ae::typeShort};
constexpr std::array keywords{ae::keyDesiredClass, ae::keyKeyForm, ae::keyKeyData,
                              ae::keyContainer,    ae::keyData,    fourCharCode("xtra")};

// The same tree twice: as built, and with its key data replaced.
struct Twin {
    AEDesc original;
    AEDesc scrambled;
};

// Different bytes of the same count; a byte that was zero stays zero, so a key keeps its zeroness.
std::vector<std::uint8_t> scramble(std::vector<std::uint8_t> bytes) {
    for (auto& byte : bytes) {
        byte = byte == 0 ? 0 : byte == 0xff ? 1 : static_cast<std::uint8_t>(~byte);
    }
    return bytes;
}

class TreeBuilder {
public:
    explicit TreeBuilder(FuzzedDataProvider& input) : input(input) {}

    Twin build(int depth, bool inKey) {
        const int kinds = depth >= maxDepth ? 1 : 5;
        switch (input.ConsumeIntegralInRange<int>(0, kinds)) {
        case 0:
            return same(AEDesc()); // the application
        case 1:
            return scalar(inKey);
        case 2:
        case 3:
            return specifier(depth, inKey);
        case 4:
            return record(depth, inKey);
        default:
            return list(depth, inKey);
        }
    }

private:
    static Twin same(const AEDesc& descriptor) { return {descriptor, descriptor}; }

    template <std::size_t N> FourCharCode pick(const std::array<FourCharCode, N>& codes) {
        const auto index = input.ConsumeIntegralInRange<std::size_t>(0, N);
        return index < N ? codes[index] : input.ConsumeIntegral<std::uint32_t>();
    }

    Twin scalar(bool inKey) {
        const DescType type = pick(types);
        auto bytes = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 12));
        if (!inKey) {
            return same(AEDesc(type, bytes));
        }
        return {AEDesc(type, bytes), AEDesc(type, scramble(bytes))};
    }

    Twin key(int depth) {
        switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {
            const auto id = input.ConsumeIntegral<std::int32_t>();
            const auto other = AEDesc::makeLong(id);
            return {other, AEDesc(ae::typeLong, scramble(other.data()))};
        }
        case 1: {
            const auto id = input.ConsumeIntegral<std::int64_t>();
            const auto other = AEDesc::makeComp(id);
            return {other, AEDesc(ae::typeComp, scramble(other.data()))};
        }
        case 2: {
            const auto name = input.ConsumeRandomLengthString(24);
            const auto text = AEDesc::makeUTF8Text(name);
            return {text, AEDesc(ae::typeUTF8Text, scramble(text.data()))};
        }
        default:
            return build(depth + 1, true);
        }
    }

    // A 'want' or 'form' field: mostly right, sometimes of the wrong type or size.
    Twin tag(DescType type, FourCharCode value, bool inKey) {
        switch (input.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
            return scalar(inKey);
        case 1:
            return same(AEDesc(type, {1, 2}));
        default: {
            const AEDesc good = type == ae::typeType ? AEDesc::makeType(value) : AEDesc::makeEnum(value);
            return inKey ? Twin{good, AEDesc(type, scramble(good.data()))} : same(good);
        }
        }
    }

    Twin specifier(int depth, bool inKey) {
        const DescType type =
            input.ConsumeIntegralInRange<int>(0, 7) == 0 ? pick(types) : ae::typeObjectSpecifier;
        Twin twin{AEDesc::makeRecord(type), AEDesc::makeRecord(type)};
        const auto put = [&twin](AEKeyword keyword, Twin field) {
            twin.original.putParam(keyword, std::move(field.original));
            twin.scrambled.putParam(keyword, std::move(field.scrambled));
        };
        // Fields in the fuzzer's order, each possibly left out; a stray field now and then.
        const auto order = input.ConsumeIntegral<std::uint8_t>();
        for (int slot = 0; slot < 5; ++slot) {
            const int field = (slot + order) % 5;
            if (input.ConsumeIntegralInRange<int>(0, 15) == 0) {
                continue;
            }
            switch (field) {
            case 0:
                put(ae::keyDesiredClass, tag(ae::typeType, pick(classes), inKey));
                break;
            case 1:
                put(ae::keyKeyForm, tag(ae::typeEnum, pick(forms), inKey));
                break;
            case 2:
                put(ae::keyKeyData, key(depth));
                break;
            case 3:
                put(ae::keyContainer, build(depth + 1, inKey));
                break;
            default:
                if (input.ConsumeIntegralInRange<int>(0, 7) == 0) {
                    put(pick(keywords), build(depth + 1, inKey));
                }
            }
        }
        return twin;
    }

    Twin record(int depth, bool inKey) {
        const DescType type = pick(types);
        Twin twin{AEDesc::makeRecord(type), AEDesc::makeRecord(type)};
        const auto count = input.ConsumeIntegralInRange<int>(0, 5);
        for (int field = 0; field < count; ++field) {
            const AEKeyword keyword = pick(keywords);
            Twin value = keyword == ae::keyKeyData ? key(depth) : build(depth + 1, inKey);
            twin.original.putParam(keyword, std::move(value.original));
            twin.scrambled.putParam(keyword, std::move(value.scrambled));
        }
        return twin;
    }

    Twin list(int depth, bool inKey) {
        Twin twin{AEDesc::makeList(), AEDesc::makeList()};
        const auto count = input.ConsumeIntegralInRange<int>(0, 4);
        for (int item = 0; item < count; ++item) {
            Twin value = build(depth + 1, inKey);
            twin.original.append(std::move(value.original));
            twin.scrambled.append(std::move(value.scrambled));
        }
        return twin;
    }

    FuzzedDataProvider& input;
};

bool isNumber(const KVValue* value) {
    return value != nullptr && value->number() != nullptr;
}

void checkShape(const KVDictionary& shape) {
    require(shape.size() == 4, "the shape does not have exactly its four keys");
    for (const char* key : {"descriptorType", "referenceClass", "referenceForm", "containerClass"}) {
        require(isNumber(shape.find(key)), "a shape value is missing or not a number");
    }
}

void checkChain(const KVArray& chain) {
    static const std::set<std::string_view> terminations{"null", "unsupported", "missing_container",
                                                         "depth_limit", "missing"};
    static const std::set<std::string_view> numbers{"descriptorType", "referenceClass", "referenceForm",
                                                    "fieldCount",     "identifierType", "identifierSize"};
    static const std::set<std::string_view> flags{"classValid", "formValid", "identifierNonzero"};
    require(!chain.empty() && chain.size() <= 8, "a chain has no entry or more than eight");
    for (std::size_t index = 0; index < chain.size(); ++index) {
        const KVDictionary* entry = chain[index].dictionary();
        require(entry != nullptr, "a chain entry is not a dictionary");
        require(entry->contains("termination") == (index + 1 == chain.size()),
                "termination is not on the last entry alone");
        for (const auto& [key, value] : *entry) {
            if (key == "termination") {
                require(value.string() != nullptr && terminations.count(*value.string()) == 1,
                        "unknown termination");
            } else if (numbers.count(key) == 1) {
                require(value.number() != nullptr, "a chain value that should be a number is not");
            } else {
                require(flags.count(key) == 1 && value.boolean() != nullptr, "unexpected chain entry key");
            }
        }
    }
}

struct Answers {
    bool libraryFile, stream, subscription, userPlaylist, readable, isBoolean;
    std::optional<bool> booleanValue;
    KVDictionary shape;
    KVArray chain;

    friend bool operator==(const Answers&, const Answers&) = default;
};

Answers inspect(const AEDesc& descriptor) {
    return {
        KVMusicDescriptorIsLibraryFile(&descriptor),       KVMusicDescriptorIsStream(&descriptor),
        KVMusicDescriptorIsSubscriptionTrack(&descriptor), KVMusicDescriptorIsUserPlaylistTrack(&descriptor),
        KVMusicDescriptorIsReadableTrack(&descriptor),     KVMusicDescriptorIsBoolean(&descriptor),
        KVMusicDescriptorBooleanValue(&descriptor),        KVMusicDescriptorDiagnosticShape(&descriptor),
        KVMusicDescriptorDiagnosticChain(&descriptor)};
}

void checkAnswers(const Answers& answers) {
    checkShape(answers.shape);
    checkChain(answers.chain);
    require(answers.readable ==
                (answers.libraryFile || answers.stream || answers.subscription || answers.userPlaylist),
            "readable is not the union of the four track tests");
    require(answers.booleanValue.has_value() == answers.isBoolean,
            "a Boolean without a value, or the reverse");
    const KVDictionary& first = *answers.chain.front().dictionary();
    require(*first.find("descriptorType") == *answers.shape.find("descriptorType"),
            "shape and chain disagree on the descriptor type");
    if (answers.readable) {
        // A track addressed by IDs up to the application: two or three object levels, then the null.
        const KVDictionary& last = *answers.chain.back().dictionary();
        require(answers.chain.size() == 3 || answers.chain.size() == 4, "a readable track of odd depth");
        require(*last.find("termination") == KVValue("null"), "a readable track that does not end at null");
        require(*first.find("identifierNonzero") == KVValue(true), "a readable track with a zero ID");
        require(*first.find("referenceForm") == KVValue(static_cast<double>(ae::formUniqueID)),
                "a readable track not addressed by unique ID");
        require(*first.find("referenceClass") == *answers.shape.find("referenceClass"),
                "shape and chain disagree on the class");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    TreeBuilder builder(input);
    const Twin twin = builder.build(0, false);
    const Answers answers = inspect(twin.original);
    checkAnswers(answers);
    require(inspect(twin.scrambled) == answers, "an answer depends on key data");
    require(!KVMusicDescriptorIsReadableTrack(nullptr) && !KVMusicDescriptorIsBoolean(nullptr),
            "a missing descriptor passed a test");
    return 0;
}
