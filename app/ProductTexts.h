// The texts that name the product and where it lives on the web, in one
// place: the window title, the welcome line, the link buttons and the default
// volume label all read them from here.
#pragma once

namespace velk::app {

inline constexpr const char* ProductName = "Orvell";
// The companion program, looked for in the application's own folder.
inline constexpr const char* CompanionProgram = "Orvell";
// The skin style sheet, looked for in the application's own folder.
inline constexpr const char* SkinFileName = "Mac-style.skf";

inline constexpr const char* MakerPageUrl = "https://velk.example.org/";
inline constexpr const char* ProductPageUrl = "https://velk.example.org/app/";

// The label box's starting text; it names the maker's site.
inline constexpr const char* DefaultVolumeLabel = "VELK.EXAMPLE.ORG";
// The engine keeps at most this many characters of a volume label.
inline constexpr int VolumeLabelLimit = 32;

}  // namespace velk::app
