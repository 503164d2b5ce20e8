#pragma once

#include <QVariant>

#include <optional>
#include <string>

namespace kavrel {

// The current track as an MPRIS player describes it in its Metadata property. Players differ in
// details, so values of a slightly wrong type are read where the meaning is clear (one artist as a
// plain string, a length as any number) and ignored otherwise.
struct MprisMetadata {
    std::string title;
    // The names of the xesam:artist list joined with ", ".
    std::string artist;
    std::optional<std::string> album;
    // mpris:length is in microseconds.
    double lengthSeconds = 0;
    // mpris:trackid; none when absent or the path that means "no track".
    std::optional<std::string> trackID;
    std::optional<std::string> url;
    std::optional<std::string> artUrl;
    // xesam:userRating, 0 to 1, as some players publish it for rated tracks.
    std::optional<double> userRating;

    // The Metadata value as a Properties.Get reply carries it (a D-Bus a{sv}) or as a plain map;
    // none when it holds no entry at all, which is how a player says it has no current track.
    static std::optional<MprisMetadata> decode(const QVariant& metadata);
};

} // namespace kavrel
