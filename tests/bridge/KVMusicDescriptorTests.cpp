#include "MusicBridge/KVMusicDescriptor.hpp"
#include "MusicBridge/events/FourCharCode.hpp"
#include "MusicBridge/events/ObjectSpecifier.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

AEDesc byID(DescType desiredClass, const AEDesc& container, std::int32_t id) {
    return createObjSpecifier(desiredClass, container, ae::formUniqueID, AEDesc::makeLong(id));
}

const AEDesc application;
const AEDesc source = byID(music::classSource, application, 64);

struct ShapeCase {
    const char* name;
    AEDesc specifier;
    bool libraryFile, stream, subscription, userPlaylist;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const ShapeCase& shape, std::ostream* out) {
    *out << shape.name;
}

class DescriptorShapeTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(DescriptorShapeTest, EachTrackTestAcceptsExactlyItsChains) {
    const auto& shape = GetParam();
    const AEDesc* specifier = &shape.specifier;
    EXPECT_EQ(KVMusicDescriptorIsLibraryFile(specifier), shape.libraryFile);
    EXPECT_EQ(KVMusicDescriptorIsStream(specifier), shape.stream);
    EXPECT_EQ(KVMusicDescriptorIsSubscriptionTrack(specifier), shape.subscription);
    EXPECT_EQ(KVMusicDescriptorIsUserPlaylistTrack(specifier), shape.userPlaylist);
    EXPECT_EQ(KVMusicDescriptorIsReadableTrack(specifier),
              shape.libraryFile || shape.stream || shape.subscription || shape.userPlaylist);
}

AEDesc withExtraField(AEDesc specifier) {
    specifier.putParam(fourCharCode("xtra"), AEDesc::makeLong(1));
    return specifier;
}

AEDesc sourceWithData() {
    return byID(music::classSource, AEDesc(ae::typeNull, {1}), 64);
}

INSTANTIATE_TEST_SUITE_P(
    Chains, DescriptorShapeTest,
    ::testing::Values(
        ShapeCase{"fileInSource", byID(music::classFileTrack, source, 5), true, false, false, false},
        ShapeCase{
            "fileByPosition",
            createObjSpecifier(music::classFileTrack, source, ae::formAbsolutePosition, AEDesc::makeLong(5)),
            false, false, false, false},
        ShapeCase{"fileWithZeroID", byID(music::classFileTrack, source, 0), false, false, false, false},
        ShapeCase{
            "fileByCompID",
            createObjSpecifier(music::classFileTrack, source, ae::formUniqueID, AEDesc::makeComp(1LL << 40)),
            true, false, false, false},
        ShapeCase{"fileByZeroComp",
                  createObjSpecifier(music::classFileTrack, source, ae::formUniqueID, AEDesc::makeComp(0)),
                  false, false, false, false},
        ShapeCase{"fileWithFiveFields", withExtraField(byID(music::classFileTrack, source, 5)), false, false,
                  false, false},
        ShapeCase{"fileInApplication", byID(music::classFileTrack, application, 5), false, false, false,
                  false},
        ShapeCase{"sourceWithData", byID(music::classFileTrack, sourceWithData(), 5), false, false, false,
                  false},
        ShapeCase{"stream", byID(music::classURLTrack, source, 7), false, true, false, false},
        ShapeCase{"subscriptionTwoLevels",
                  byID(music::classSharedTrack, byID(music::classSubscriptionPlaylist, application, 3), 9),
                  false, false, true, false},
        ShapeCase{"subscriptionInSource",
                  byID(music::classSharedTrack, byID(music::classSubscriptionPlaylist, source, 3), 9), false,
                  false, true, false},
        ShapeCase{"userPlaylistInSource",
                  byID(music::classSharedTrack, byID(music::classUserPlaylist, source, 3), 9), false, false,
                  false, true},
        ShapeCase{"userPlaylistInNestedSource",
                  byID(music::classSharedTrack,
                       byID(music::classUserPlaylist, byID(music::classSource, source, 2), 3), 9),
                  false, false, false, false},
        ShapeCase{"notASpecifier", AEDesc::makeLong(5), false, false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DescriptorTest, MissingDescriptorsPassNoTest) {
    EXPECT_FALSE(KVMusicDescriptorIsReadableTrack(nullptr));
    EXPECT_FALSE(KVMusicDescriptorIsBoolean(nullptr));
    EXPECT_EQ(KVMusicDescriptorBooleanValue(nullptr), std::nullopt);
}

TEST(DescriptorTest, BooleansComeInThreeTypesAndOnlyOneByteBools) {
    const AEDesc on = AEDesc::makeBoolean(true);
    const AEDesc off = AEDesc::makeBoolean(false);
    EXPECT_EQ(KVMusicDescriptorBooleanValue(&on), true);
    EXPECT_EQ(KVMusicDescriptorBooleanValue(&off), false);
    const AEDesc yes(ae::typeTrue, {});
    const AEDesc no(ae::typeFalse, {});
    const AEDesc wide(ae::typeBoolean, {1, 0});
    const AEDesc trueWithData(ae::typeTrue, {1});
    EXPECT_EQ(KVMusicDescriptorBooleanValue(&yes), true);
    EXPECT_EQ(KVMusicDescriptorBooleanValue(&no), false);
    EXPECT_FALSE(KVMusicDescriptorIsBoolean(&wide));
    EXPECT_FALSE(KVMusicDescriptorIsBoolean(&trueWithData));
}

TEST(DescriptorTest, ReadTagNeedsTheTypeAndExactlyFourBytes) {
    AEDesc record = AEDesc::makeRecord();
    record.putParam(ae::keyDesiredClass, AEDesc::makeType(music::classTrack));
    record.putParam(ae::keyKeyForm, AEDesc(ae::typeEnum, {1, 2}));
    EXPECT_EQ(readTag(record, ae::keyDesiredClass, ae::typeType), music::classTrack);
    EXPECT_EQ(readTag(record, ae::keyDesiredClass, ae::typeEnum), std::nullopt);
    EXPECT_EQ(readTag(record, ae::keyKeyForm, ae::typeEnum), std::nullopt);
    EXPECT_EQ(readTag(record, ae::keyContainer, ae::typeType), std::nullopt);
}

const KVDictionary& entry(const KVArray& chain, std::size_t index) {
    return *chain.at(index).dictionary();
}

TEST(DescriptorChainTest, DescribesEachLevelWithoutItsKeyData) {
    const AEDesc track = byID(music::classSharedTrack, byID(music::classUserPlaylist, source, 3), 123456);
    const KVArray chain = KVMusicDescriptorDiagnosticChain(&track);
    ASSERT_EQ(chain.size(), 4u);
    EXPECT_EQ(*entry(chain, 0).find("referenceClass"), KVValue(static_cast<double>(music::classSharedTrack)));
    EXPECT_EQ(*entry(chain, 0).find("identifierType"), KVValue(static_cast<double>(ae::typeLong)));
    EXPECT_EQ(*entry(chain, 0).find("identifierSize"), KVValue(4));
    EXPECT_EQ(*entry(chain, 0).find("identifierNonzero"), KVValue(true));
    EXPECT_EQ(*entry(chain, 0).find("fieldCount"), KVValue(4));
    EXPECT_EQ(*entry(chain, 3).find("termination"), KVValue("null"));
    for (const auto& level : chain) {
        for (const auto& [key, value] : *level.dictionary()) {
            EXPECT_NE(value, KVValue(123456)) << key; // never the identifier itself
        }
    }
}

TEST(DescriptorChainTest, TerminationsCoverEveryWayAChainEnds) {
    EXPECT_EQ(*entry(KVMusicDescriptorDiagnosticChain(nullptr), 0).find("termination"), KVValue("missing"));

    const AEDesc unsupported = byID(music::classFileTrack, AEDesc::makeLong(1), 5);
    const auto ended = KVMusicDescriptorDiagnosticChain(&unsupported);
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(*entry(ended, 1).find("termination"), KVValue("unsupported"));

    const AEDesc nullWithData = byID(music::classFileTrack, AEDesc(ae::typeNull, {0}), 5);
    EXPECT_EQ(*entry(KVMusicDescriptorDiagnosticChain(&nullWithData), 1).find("termination"),
              KVValue("unsupported"));

    AEDesc orphan = AEDesc::makeRecord(ae::typeObjectSpecifier);
    orphan.putParam(ae::keyDesiredClass, AEDesc::makeType(music::classTrack));
    orphan.putParam(ae::keyKeyForm, AEDesc::makeLong(7)); // not an 'enum'
    const auto missing = KVMusicDescriptorDiagnosticChain(&orphan);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(*entry(missing, 0).find("termination"), KVValue("missing_container"));
    EXPECT_EQ(*entry(missing, 0).find("formValid"), KVValue(false));
    EXPECT_FALSE(entry(missing, 0).contains("identifierType"));

    AEDesc deep = application;
    for (int level = 0; level < 9; ++level) {
        deep = byID(music::classSource, deep, level + 1);
    }
    const auto limited = KVMusicDescriptorDiagnosticChain(&deep);
    ASSERT_EQ(limited.size(), 8u);
    EXPECT_EQ(*entry(limited, 7).find("termination"), KVValue("depth_limit"));
    EXPECT_FALSE(entry(limited, 6).contains("termination"));
}

TEST(DescriptorDiagnosticShapeTest, ReportsTheContainerClassOnlyForNestedSpecifiers) {
    const AEDesc track = byID(music::classFileTrack, source, 5);
    const KVDictionary shape = KVMusicDescriptorDiagnosticShape(&track);
    EXPECT_EQ(*shape.find("referenceClass"), KVValue(static_cast<double>(music::classFileTrack)));
    EXPECT_EQ(*shape.find("referenceForm"), KVValue(static_cast<double>(ae::formUniqueID)));
    EXPECT_EQ(*shape.find("containerClass"), KVValue(static_cast<double>(music::classSource)));
    const KVDictionary scalar = KVMusicDescriptorDiagnosticShape(source.param(ae::keyContainer));
    EXPECT_EQ(*scalar.find("referenceClass"), KVValue(0));
    EXPECT_EQ(*scalar.find("containerClass"), KVValue(0));
}

} // namespace
} // namespace kavrel
