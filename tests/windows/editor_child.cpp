// Started by editor_parent.exe under a photo manager's name: asks the Windows process-identity
// unit who launched it and prints, one "key=value" line each, the parent's base name, what the
// shell says of its file description, and the editor name the external-editor back end derives
// from them (its naming rules, restated here because the back end itself needs Qt).
#include "ProcessIdentity.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The file name without its last extension, as QFileInfo::completeBaseName gives it.
std::string completeBaseName(const std::string &path)
{
    const std::string name = path.substr(path.find_last_of("\\/") + 1);
    return name.substr(0, name.find_last_of('.'));
}

} // namespace

int main()
{
    const std::uint32_t parent = ProcessIdentity::parentProcessId();
    std::string path;
    unsigned long lastError = 0;
    if (parent == 0 || !ProcessIdentity::executablePath(parent, path, lastError)) {
        std::printf("error=no parent path, pid %u, error %lu\n", parent, lastError);
        return 1;
    }
    const std::string name = completeBaseName(path);
    std::printf("processName=%s\n", name.c_str());

    std::vector<std::string> nonEditors{"cmd", "explorer", "openwith", "chrome", "rundll32", "dllhost"};
    for (const std::string &launcher : ProcessIdentity::systemLaunchers())
        nonEditors.push_back(lower(launcher));
    std::string editor;
    if (std::find(nonEditors.begin(), nonEditors.end(), lower(name)) != nonEditors.end()) {
        editor = "";
    } else if (lower(name).find("lightroom") != std::string::npos) {
        editor = "Adobe Lightroom Classic";
    } else if (lower(name).find("p1.c1.pluginhostprocess") != std::string::npos) {
        editor = "Capture One";
    } else {
        editor = "External Editor";
        std::string description;
        long resultCode = 0;
        switch (ProcessIdentity::fileDescription(path, description, resultCode)) {
        case ProcessIdentity::DescriptionStatus::Found:
            std::printf("description=%s\n", description.c_str());
            if (!description.empty())
                editor = description;
            break;
        case ProcessIdentity::DescriptionStatus::NoItem:
            std::printf("descriptionFailed=SHCreateItemFromParsingName 0x%08lx\n", static_cast<unsigned long>(resultCode));
            break;
        case ProcessIdentity::DescriptionStatus::NoDescription:
            std::printf("descriptionFailed=IShellItem2::GetString(PKEY_FileDescription) 0x%08lx\n",
                        static_cast<unsigned long>(resultCode));
            break;
        }
    }
    std::printf("editor=%s\n", editor.c_str());
    return 0;
}
