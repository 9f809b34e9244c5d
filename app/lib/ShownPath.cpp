#include "app/lib/ShownPath.h"

#include "platform/win/Paths.h"
#include "platform/win/Utf8.h"

std::string ShownPath(const std::string& path)
{
    // Only the drive that spells the host's root is a mere spelling of a host path; the other
    // drives are the person's own settings (definition files name them) and stay as they are.
    const std::string hostRoot = win::ToWindowsPath("/");
    if (hostRoot.empty() || path.size() < hostRoot.size() || !win::SameText(path.substr(0, hostRoot.size()), hostRoot))
        return path;
    std::string host;
    return win::ToHostPath(path, host) && !host.empty() ? host : path;
}

std::string TypedPath(const std::string& text)
{
    if (text.empty() || text[0] != '/')
        return text;
    const std::string program = win::ToWindowsPath(text);
    return program.empty() ? text : program;
}
