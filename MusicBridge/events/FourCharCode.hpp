#pragma once

#include <cstdint>

namespace kavrel {

// Descriptor types, keywords, classes and key forms are four ASCII characters read as a big-endian number.
using FourCharCode = std::uint32_t;
using DescType = FourCharCode;
using AEKeyword = FourCharCode;

constexpr FourCharCode fourCharCode(const char (&text)[5]) {
    return (static_cast<FourCharCode>(static_cast<unsigned char>(text[0])) << 24) |
           (static_cast<FourCharCode>(static_cast<unsigned char>(text[1])) << 16) |
           (static_cast<FourCharCode>(static_cast<unsigned char>(text[2])) << 8) |
           static_cast<FourCharCode>(static_cast<unsigned char>(text[3]));
}

// The event layer's own vocabulary.
namespace ae {

inline constexpr DescType typeNull = fourCharCode("null");
inline constexpr DescType typeLong = fourCharCode("long");
inline constexpr DescType typeComp = fourCharCode("comp");
inline constexpr DescType typeShort = fourCharCode("shor");
inline constexpr DescType typeType = fourCharCode("type");
inline constexpr DescType typeEnum = fourCharCode("enum");
inline constexpr DescType typeBoolean = fourCharCode("bool");
inline constexpr DescType typeTrue = fourCharCode("true");
inline constexpr DescType typeFalse = fourCharCode("fals");
inline constexpr DescType typeUTF8Text = fourCharCode("utf8");
inline constexpr DescType typeBundleID = fourCharCode("bund");
inline constexpr DescType typeRecord = fourCharCode("reco");
inline constexpr DescType typeList = fourCharCode("list");
inline constexpr DescType typeObjectSpecifier = fourCharCode("obj ");
inline constexpr DescType typeAppleEvent = fourCharCode("aevt");

inline constexpr AEKeyword keyDirectObject = fourCharCode("----");
inline constexpr AEKeyword keyErrorNumber = fourCharCode("errn");
inline constexpr AEKeyword keyData = fourCharCode("data");
inline constexpr AEKeyword keyDesiredClass = fourCharCode("want");
inline constexpr AEKeyword keyKeyForm = fourCharCode("form");
inline constexpr AEKeyword keyKeyData = fourCharCode("seld");
inline constexpr AEKeyword keyContainer = fourCharCode("from");

inline constexpr FourCharCode eventClassCore = fourCharCode("core");
inline constexpr FourCharCode eventClassRequired = fourCharCode("aevt");
inline constexpr FourCharCode eventGetData = fourCharCode("getd");
inline constexpr FourCharCode eventSetData = fourCharCode("setd");

inline constexpr FourCharCode formAbsolutePosition = fourCharCode("indx");
inline constexpr FourCharCode formUniqueID = fourCharCode("ID  ");
inline constexpr FourCharCode formPropertyID = fourCharCode("prop");
inline constexpr FourCharCode classProperty = fourCharCode("prop");

} // namespace ae

// The music app's scripting dictionary, as far as the bridge uses it.
namespace music {

inline constexpr FourCharCode propCurrentTrack = fourCharCode("pTrk");
inline constexpr FourCharCode propPersistentID = fourCharCode("pPIS");
inline constexpr FourCharCode propDatabaseID = fourCharCode("pDID");
inline constexpr FourCharCode propFavorited = fourCharCode("pLov");

inline constexpr FourCharCode classLibraryPlaylist = fourCharCode("cLiP");
inline constexpr FourCharCode classTrack = fourCharCode("cTrk");
inline constexpr FourCharCode classFileTrack = fourCharCode("cFlT");
inline constexpr FourCharCode classURLTrack = fourCharCode("cURT");
inline constexpr FourCharCode classSharedTrack = fourCharCode("cShT");
inline constexpr FourCharCode classSource = fourCharCode("cSrc");
inline constexpr FourCharCode classSubscriptionPlaylist = fourCharCode("cSuP");
inline constexpr FourCharCode classUserPlaylist = fourCharCode("cUsP");

inline constexpr FourCharCode playerStatePlaying = fourCharCode("kPSP");
inline constexpr FourCharCode playerStateStopped = fourCharCode("kPSS");
inline constexpr FourCharCode playerStatePaused = fourCharCode("kPSp");

} // namespace music
} // namespace kavrel
