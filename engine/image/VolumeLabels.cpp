#include "engine/image/VolumeLabels.h"

#include <algorithm>
#include <string>

#include "platform/Text.h"

namespace velk {

int setVolumeLabelW(ImageProject& project, const char16_t* label) {
    std::u16string_view text(label ? label : u"", platform::u16length(label));
    std::u16string wide = platform::toUtf16(platform::toUtf8(text), 32);
    std::fill(std::begin(project.volumeLabelW), std::end(project.volumeLabelW), u'\0');
    std::copy(wide.begin(), wide.end(), project.volumeLabelW);
    std::string narrow = platform::toUtf8(text, 32);
    std::fill(std::begin(project.volumeLabel), std::end(project.volumeLabel), '\0');
    std::copy(narrow.begin(), narrow.end(), project.volumeLabel);
    return static_cast<int>(narrow.size());
}

int setVolumeLabel(ImageProject& project, const char* label) {
    std::u16string wide = platform::toUtf16(label ? label : "");
    return setVolumeLabelW(project, wide.c_str());
}

}  // namespace velk
