#include "player/scheme_registration.h"

#include "player/file_io.h"
#include "player/ini_text.h"

namespace zuvo {

namespace {

bool WriteIfChanged(const std::string& path, const std::string& content, const std::vector<std::string>& roots) {
    const FileText current = ReadSmallFile(path);
    if (current.status == ReadStatus::Ok && current.text == content) return true;
    return WriteFileAtomically(path, content, roots);
}

}  // namespace

std::optional<std::string> QuoteExecArgument(std::string_view programPath) {
    std::string quoted = "\"";
    for (char c : programPath) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';  // a literal percent is "%%", never a field code
        quoted += c;
    }
    quoted += '"';
    // String-level escaping comes on top: every backslash is written twice.
    std::string escaped;
    for (char c : quoted) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::optional<std::string> DesktopEntryText(std::string_view programPath) {
    const std::optional<std::string> exec = QuoteExecArgument(programPath);
    if (!exec) return std::nullopt;
    std::string text;
    text += "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Name=Zuvo Player\n";
    text += "Comment=URL:Zuvo P2P Protocol\n";
    // The link arrives as one argument after -zuvopurl, as the program expects it.
    text += "Exec=" + *exec + " -zuvopurl %u\n";
    text += "MimeType=" + std::string(kSchemeMimeType) + ";\n";
    text += "NoDisplay=true\n";
    text += "Terminal=false\n";
    return text;
}

std::string MimeAppsWithHandler(std::string_view text) {
    return WriteIniValue(text, "Default Applications", kSchemeMimeType, kDesktopFileName);
}

RegistrationResult RegisterSchemeHandler(const UserDirs& dirs, std::string_view programPath) {
    RegistrationResult result;
    const std::vector<std::string> roots = WritableRoots(dirs);
    const std::string appDir = dirs.dataHome.empty() ? std::string() : dirs.dataHome + "/applications";
    if (!MakeDirectories(appDir)) {
        result.failedAt = RegistrationStep::DataDirectory;
        return result;
    }
    const std::optional<std::string> entry = DesktopEntryText(programPath);
    if (!entry || !WriteIfChanged(appDir + "/" + kDesktopFileName, *entry, roots)) {
        result.failedAt = RegistrationStep::DesktopEntry;
        return result;
    }
    if (dirs.configHome.empty()) {
        result.failedAt = RegistrationStep::DefaultHandler;
        return result;
    }
    const std::string listPath = dirs.configHome + "/mimeapps.list";
    const FileText list = ReadSmallFile(listPath);
    // An unreadable list is left alone: rewriting it would drop the user's other associations.
    if (list.status == ReadStatus::Failed || !WriteIfChanged(listPath, MimeAppsWithHandler(list.text), roots)) {
        result.failedAt = RegistrationStep::DefaultHandler;
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace zuvo
