#include "MusicBridge/KVMusicDescriptor.hpp"
#include "MusicBridge/events/FourCharCode.hpp"
#include "MusicBridge/events/ObjectSpecifier.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

// Codes are written out here rather than taken from the bridge, so a wrong code there shows.
AEDesc byID(const char (&desiredClass)[5], const AEDesc& container, const AEDesc& id,
            const char (&form)[5] = "ID  ") {
    return createObjSpecifier(fourCharCode(desiredClass), container, fourCharCode(form), id);
}
AEDesc byID(const char (&desiredClass)[5], const AEDesc& container, std::int32_t id) {
    return byID(desiredClass, container, AEDesc::makeLong(id));
}

const AEDesc application;
const AEDesc source = byID("cSrc", application, 64);

TEST(DescriptorTest, EachTrackTestAcceptsExactlyItsChains) {
    AEDesc fiveFields = byID("cFlT", source, 5);
    fiveFields.putParam(fourCharCode("xtra"), AEDesc::makeLong(1));
    // Which tests pass: L library file, S stream, B subscription, U user playlist.
    const std::vector<std::tuple<const char*, AEDesc, std::string>> rows = {
        {"file in source", byID("cFlT", source, 5), "L"},
        {"file by position", byID("cFlT", source, AEDesc::makeLong(5), "indx"), ""},
        {"file with ID 0", byID("cFlT", source, 0), ""},
        {"file by 64-bit ID", byID("cFlT", source, AEDesc::makeComp(1LL << 40)), "L"},
        {"file by 64-bit ID 0", byID("cFlT", source, AEDesc::makeComp(0)), ""},
        {"file with five fields", fiveFields, ""},
        {"file in application", byID("cFlT", application, 5), ""},
        {"source with data", byID("cFlT", byID("cSrc", AEDesc(fourCharCode("null"), {1}), 64), 5), ""},
        {"stream", byID("cURT", source, 7), "S"},
        {"subscription", byID("cShT", byID("cSuP", application, 3), 9), "B"},
        {"subscription in source", byID("cShT", byID("cSuP", source, 3), 9), "B"},
        {"user playlist", byID("cShT", byID("cUsP", application, 3), 9), "U"},
        {"user playlist in source", byID("cShT", byID("cUsP", source, 3), 9), "U"},
        {"user playlist in nested source", byID("cShT", byID("cUsP", byID("cSrc", source, 2), 3), 9), ""},
        {"not a specifier", AEDesc::makeLong(5), ""}};
    for (const auto& [label, specifier, passes] : rows) {
        std::string passed;
        for (const auto& [letter, test] : {std::pair{'L', &KVMusicDescriptorIsLibraryFile},
                                           {'S', &KVMusicDescriptorIsStream},
                                           {'B', &KVMusicDescriptorIsSubscriptionTrack},
                                           {'U', &KVMusicDescriptorIsUserPlaylistTrack}}) {
            passed += test(&specifier) ? std::string(1, letter) : "";
        }
        EXPECT_EQ(passed, passes) << label;
        EXPECT_EQ(KVMusicDescriptorIsReadableTrack(&specifier), !passes.empty()) << label;
    }
    EXPECT_FALSE(KVMusicDescriptorIsReadableTrack(nullptr));
}

TEST(DescriptorTest, BooleansComeInThreeTypesAndOnlyOneByteBools) {
    const std::vector<std::pair<AEDesc, std::optional<bool>>> rows = {
        {AEDesc(fourCharCode("bool"), {1}), true},
        {AEDesc(fourCharCode("bool"), {0}), false},
        {AEDesc(fourCharCode("true"), {}), true},
        {AEDesc(fourCharCode("fals"), {}), false},
        {AEDesc(fourCharCode("bool"), {1, 0}), {}},
        {AEDesc(fourCharCode("true"), {1}), {}},
        {AEDesc::makeLong(1), {}}};
    for (const auto& [descriptor, value] : rows) {
        EXPECT_EQ(KVMusicDescriptorBooleanValue(&descriptor), value);
    }
    EXPECT_EQ(KVMusicDescriptorBooleanValue(nullptr), std::nullopt);
}

KVValue field(const KVArray& chain, std::size_t index, std::string_view key) {
    const KVValue* value = chain.at(index).dictionary()->find(key);
    return value ? *value : KVValue("<absent>");
}

TEST(DescriptorTest, ChainsDescribeEachLevelWithoutItsKeyDataAndEndOneWayEach) {
    AEDesc orphan = AEDesc::makeRecord(fourCharCode("obj "));
    orphan.putParam(fourCharCode("want"), AEDesc::makeType(fourCharCode("cTrk")));
    orphan.putParam(fourCharCode("form"), AEDesc::makeLong(7)); // not an 'enum'
    const auto nested = [](int levels) {
        AEDesc made = application;
        while (levels-- > 0) {
            made = byID("cSrc", made, levels + 1);
        }
        return made;
    };
    const AEDesc seven = nested(7), eight = nested(8), inNumber = byID("cFlT", AEDesc::makeLong(1), 5),
                 inNullWithData = byID("cFlT", AEDesc(fourCharCode("null"), {0}), 5),
                 track = byID("cShT", byID("cUsP", source, 3), 123456);
    const std::vector<std::tuple<const AEDesc*, std::size_t, const char*>> rows = {
        {nullptr, 1, "missing"},
        {&orphan, 1, "missing_container"},
        {&inNumber, 2, "unsupported"},
        {&inNullWithData, 2, "unsupported"},
        {&seven, 8, "null"},
        {&eight, 8, "depth_limit"},
        {&track, 4, "null"}};
    for (const auto& [descriptor, size, termination] : rows) {
        const KVArray chain = KVMusicDescriptorDiagnosticChain(descriptor);
        ASSERT_EQ(chain.size(), size) << termination;
        EXPECT_EQ(field(chain, size - 1, "termination"), KVValue(termination));
        EXPECT_EQ(field(chain, 0, "termination"), KVValue(size == 1 ? termination : "<absent>"));
    }

    const KVArray chain = KVMusicDescriptorDiagnosticChain(&track);
    EXPECT_EQ(field(chain, 0, "referenceClass"), KVValue(fourCharCode("cShT")));
    EXPECT_EQ(field(chain, 0, "identifierNonzero"), KVValue(true));
    for (const auto& level : chain) {
        for (const auto& [key, value] : *level.dictionary()) {
            EXPECT_NE(value, KVValue(123456)) << key; // never the identifier itself
        }
    }
    EXPECT_EQ(*KVMusicDescriptorDiagnosticShape(&track).find("containerClass"),
              KVValue(fourCharCode("cUsP")));
}

} // namespace
} // namespace kavrel
