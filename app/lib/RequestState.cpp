#include "app/lib/RequestState.h"

#include <cmath>
#include <limits>

TNetworkTargets ParseNetworkTargets(std::string_view text)
{
    TNetworkTargets result;
    result.Text = std::string(text);
    for (int n = 1; n <= 3; ++n) {
        const char digit = static_cast<char>('0' + n);
        const std::string open{'{', digit};
        const std::string close{digit, '}'};
        const std::size_t start = text.find(open);
        if (start == std::string_view::npos)
            continue;
        const std::size_t end = text.find(close, start + open.size());
        std::string block(end == std::string_view::npos ? text.substr(start + open.size())
                                                        : text.substr(start + open.size(), end - start - open.size()));
        TNetworkTarget& target = result.Targets[n - 1];
        const std::size_t labelOpen = block.find('(');
        const std::size_t labelClose = labelOpen == std::string::npos ? labelOpen : block.find(')', labelOpen + 1);
        if (labelClose != std::string::npos) {
            target.Label = block.substr(labelOpen + 1, labelClose - labelOpen - 1);
            block.erase(labelOpen, labelClose - labelOpen + 1);
        }
        target.Path = block;
    }
    return result;
}

namespace {

bool IsWholeIn(double value, int low, int high)
{
    for (int v = low; v <= high; ++v)
        if (value == static_cast<double>(v))
            return true;
    return false;
}

}  // namespace

TModeValueFlags FlagsForModeValue(double v)
{
    TModeValueFlags flags;
    flags.BackupSide = v == 0 || IsWholeIn(v, 10, 17) || v == 19 || IsWholeIn(v, 20, 29);
    flags.Automatic = IsWholeIn(v, 10, 13) || IsWholeIn(v, 15, 17) || v == 19 || IsWholeIn(v, 20, 29);
    flags.Ftp = v == 15 || v == 16 || v == 19;
    flags.DeferredDispatch = v == 9;
    flags.ReadDefinitionFile = !(v == 50 || IsWholeIn(v, 100, 102));
    return flags;
}

std::optional<int> ModeValueNumber(double modeValue)
{
    if (!std::isfinite(modeValue) || std::fabs(modeValue) >= 2147483648.0)
        return std::nullopt;
    return static_cast<int>(std::trunc(modeValue));
}

std::string ModeName(std::int32_t mode)
{
    if (mode == 0)
        return " archivace";
    if (mode == 1 || mode == 2)
        return " obnova";
    if (mode >= 10 && mode <= 16)
        return " automatická archivace";
    if (mode == 17)
        return " automatická archivace na FTP";
    if (mode == 19)
        return " ruční archivace";
    if (mode >= 20 && mode <= 29)
        return " speciální archivace";
    if (mode == 50)
        return " zpakování výplatních pásek";
    if (mode == 99)
        return " ruční obnova";
    return " ";
}

std::string ModeCaption(std::string_view fileVersion, std::int32_t mode, bool withSuffix, std::string_view companyName)
{
    std::string caption = " TORVO " + std::string(fileVersion) + ModeName(mode);
    if (withSuffix)
        caption += " - " + std::string(companyName);
    return caption;
}
