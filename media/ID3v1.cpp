#include "media/ID3v1.h"

#include <algorithm>
#include <exception>
#include <span>

#include "media/ID3Text.h"
#include "media/ReadFile.h"

namespace kestrova {

const std::array<const char*, 148> kID3Genres{"Blues",
                                              "Classic Rock",
                                              "Country",
                                              "Dance",
                                              "Disco",
                                              "Funk",
                                              "Grunge",
                                              "Hip-Hop",
                                              "Jazz",
                                              "Metal",
                                              "New Age",
                                              "Oldies",
                                              "Other",
                                              "Pop",
                                              "R&B",
                                              "Rap",
                                              "Reggae",
                                              "Rock",
                                              "Techno",
                                              "Industrial",
                                              "Alternative",
                                              "Ska",
                                              "Death Metal",
                                              "Pranks",
                                              "Soundtrack",
                                              "Euro-Techno",
                                              "Ambient",
                                              "Trip-Hop",
                                              "Vocal",
                                              "Jazz+Funk",
                                              "Fusion",
                                              "Trance",
                                              "Classical",
                                              "Instrumental",
                                              "Acid",
                                              "House",
                                              "Game",
                                              "Sound Clip",
                                              "Gospel",
                                              "Noise",
                                              "AlternRock",
                                              "Bass",
                                              "Soul",
                                              "Punk",
                                              "Space",
                                              "Meditative",
                                              "Instrumental Pop",
                                              "Instrumental Rock",
                                              "Ethnic",
                                              "Gothic",
                                              "Darkwave",
                                              "Techno-Industrial",
                                              "Electronic",
                                              "Pop-Folk",
                                              "Eurodance",
                                              "Dream",
                                              "Southern Rock",
                                              "Comedy",
                                              "Cult",
                                              "Gangsta",
                                              "Top 40",
                                              "Christian Rap",
                                              "Pop/Funk",
                                              "Jungle",
                                              "Native American",
                                              "Cabaret",
                                              "New Wave",
                                              "Psychadelic",
                                              "Rave",
                                              "Showtunes",
                                              "Trailer",
                                              "Lo-Fi",
                                              "Tribal",
                                              "Acid Punk",
                                              "Acid Jazz",
                                              "Polka",
                                              "Retro",
                                              "Musical",
                                              "Rock & Roll",
                                              "Hard Rock",
                                              "Folk",
                                              "Folk-Rock",
                                              "National Folk",
                                              "Swing",
                                              "Fast Fusion",
                                              "Bebob",
                                              "Latin",
                                              "Revival",
                                              "Celtic",
                                              "Bluegrass",
                                              "Avantgarde",
                                              "Gothic Rock",
                                              "Progessive Rock",
                                              "Psychedelic Rock",
                                              "Symphonic Rock",
                                              "Slow Rock",
                                              "Big Band",
                                              "Chorus",
                                              "Easy Listening",
                                              "Acoustic",
                                              "Humour",
                                              "Speech",
                                              "Chanson",
                                              "Opera",
                                              "Chamber Music",
                                              "Sonata",
                                              "Symphony",
                                              "Booty Bass",
                                              "Primus",
                                              "Porn Groove",
                                              "Satire",
                                              "Slow Jam",
                                              "Club",
                                              "Tango",
                                              "Samba",
                                              "Folklore",
                                              "Ballad",
                                              "Power Ballad",
                                              "Rhythmic Soul",
                                              "Freestyle",
                                              "Duet",
                                              "Punk Rock",
                                              "Drum Solo",
                                              "A capella",
                                              "Euro-House",
                                              "Dance Hall",
                                              "Goa",
                                              "Drum & Bass",
                                              "Club-House",
                                              "Hardcore",
                                              "Terror",
                                              "Indie",
                                              "BritPop",
                                              "Negerpunk",
                                              "Polsk Punk",
                                              "Beat",
                                              "Christian Gangsta Rap",
                                              "Heavy Metal",
                                              "Black Metal",
                                              "Crossover",
                                              "Contemporary Christian",
                                              "Christian Rock",
                                              "Merengue",
                                              "Salsa",
                                              "Trash Metal",
                                              "Anime",
                                              "JPop",
                                              "Synthpop"};

std::string GenreName(std::uint8_t genreID) {
  return genreID < kID3Genres.size() ? kID3Genres[genreID] : "";
}

namespace {

// A fixed-width field: up to its first zero byte, trailing blanks and control characters removed.
std::string Field(std::span<const std::uint8_t> tag, std::size_t from, std::size_t length) {
  const auto begin = tag.begin() + static_cast<std::ptrdiff_t>(from);
  const auto end = std::find(begin, begin + static_cast<std::ptrdiff_t>(length), 0);
  return id3::TrimRight(id3::Latin1ToUTF8(std::span<const std::uint8_t>(begin, end)));
}

}  // namespace

bool TID3v1::ReadFromStream(TStream& stream) {
  ResetData();
  try {
    std::array<std::uint8_t, 128> tag;
    if (stream.Size() < tag.size()) return false;
    stream.SetPosition(stream.Size() - tag.size());
    stream.ReadBuffer(tag.data(), tag.size());
    if (tag[0] != 'T' || tag[1] != 'A' || tag[2] != 'G') return true;
    Exists = true;
    VersionID = ((tag[125] == 0 && tag[126] != 0) || (tag[125] == ' ' && tag[126] != ' ')) ? 2 : 1;
    Title = Field(tag, 3, 30);
    Artist = Field(tag, 33, 30);
    Album = Field(tag, 63, 30);
    Year = Field(tag, 93, 4);
    Comment = Field(tag, 97, VersionID == 2 ? 28 : 30);
    if (VersionID == 2) Track = tag[126];
    GenreID = tag[127];
    return true;
  } catch (const std::exception&) {
    ResetData();
    return false;
  }
}

bool TID3v1::ReadFromFile(const std::string& fileName) {
  return ReadFromFileWith(*this, fileName);
}

}  // namespace kestrova
