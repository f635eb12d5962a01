#include "platform/camera/capture_setting.h"

#include <locale>
#include <sstream>

std::string settingText(const TVideoCaptureSetting& S)
{
    // Shortest form of the rate: "30", "29.97", "7.5".
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << S.Width << 'x' << S.Height << " @ " << S.FrameRate;
    return out.str();
}
