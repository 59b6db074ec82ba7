#include "app/platform/linux/XdgAutostartLoginItemService.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QStringDecoder>

#include "base/AtomicFile.h"
#include "base/Bundle.h"
#include "base/Preferences.h"

namespace tw {

namespace {

// An entry is a few hundred bytes; anything far larger is not ours to parse.
constexpr std::size_t kMaxEntrySize = 64 * 1024;

bool isUtf8(std::string_view text) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    [[maybe_unused]] const QString decoded =
        decoder(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    return !decoder.hasError();
}

bool hasControlCharacter(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    }
    return false;
}

bool isExecutableFile(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The escapes of a desktop entry's string values; a line break left in would start a new key.
std::string escapedValue(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    if (!out.empty() && out.front() == ' ') out.replace(0, 1, "\\s");
    return out;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Whether the entry's main group turns it off, as session settings do when the user disables it.
bool isTurnedOff(std::string_view entry) {
    bool inMainGroup = false;
    while (!entry.empty()) {
        const auto end = entry.find('\n');
        const auto line = trimmed(entry.substr(0, end));
        entry.remove_prefix(end == std::string_view::npos ? entry.size() : end + 1);
        if (line.starts_with('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inMainGroup || equals == std::string_view::npos) continue;
        const auto key = trimmed(line.substr(0, equals));
        const auto value = trimmed(line.substr(equals + 1));
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return true;
        }
    }
    return false;
}

LoginItemError failure(LoginItemError::Code code, int errorNumber = 0) {
    return {code, errorNumber};
}

}  // namespace

XdgAutostartLoginItemService::XdgAutostartLoginItemService(std::filesystem::path folder,
                                                           std::filesystem::path program,
                                                           std::string name)
    : folder_(std::move(folder)), program_(std::move(program)), name_(std::move(name)) {}

std::filesystem::path XdgAutostartLoginItemService::defaultFolder() {
    const auto home = Preferences::configHome();
    return home.empty() ? home : home / "autostart";
}

std::filesystem::path XdgAutostartLoginItemService::runningProgram() {
    std::error_code error;
    auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program;
}

const std::shared_ptr<XdgAutostartLoginItemService>& XdgAutostartLoginItemService::shared() {
    static auto* service = new std::shared_ptr<XdgAutostartLoginItemService>(
        std::make_shared<XdgAutostartLoginItemService>(
            defaultFolder(), runningProgram(),
            Bundle::main().string("CFBundleDisplayName").value_or("Tarnwick")));
    return *service;
}

std::optional<std::string> XdgAutostartLoginItemService::execValue(
    const std::filesystem::path& program) {
    const auto& text = program.native();
    // A '%' would have to be written "%%", and GLib (GNOME's autostart) looks for the program
    // without undoing that, so it would never start it.
    if (!program.is_absolute() || !isUtf8(text) || hasControlCharacter(text) ||
        text.find('%') != std::string::npos) {
        return std::nullopt;
    }
    // Quoted whole, so that no character of the path is taken for a separator or a shell token;
    // inside the quotes four characters take a backslash. The string escapes apply on top (a
    // reader undoes them first).
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return escapedValue(quoted);
}

std::optional<std::string> XdgAutostartLoginItemService::startableExec() const {
    if (!isExecutableFile(program_)) return std::nullopt;
    return execValue(program_);
}

std::string XdgAutostartLoginItemService::entryText(const std::string& exec) const {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           escapedValue(name_) +
           "\n"
           "Exec=" +
           exec +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::expected<void, LoginItemError> XdgAutostartLoginItemService::registerItem() {
    if (folder_.empty()) return std::unexpected(failure(LoginItemError::Code::notSaved));
    const auto exec = startableExec();
    if (!exec) return std::unexpected(failure(LoginItemError::Code::programNotFound));
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    if (error) return std::unexpected(failure(LoginItemError::Code::notSaved, error.value()));
    if (const auto written = AtomicFile::write(entryPath(), entryText(*exec), 0644); !written) {
        return std::unexpected(failure(LoginItemError::Code::notSaved, written.error()));
    }
    return {};
}

std::expected<void, LoginItemError> XdgAutostartLoginItemService::unregisterItem() {
    std::error_code error;
    std::filesystem::remove(entryPath(), error);
    if (error) return std::unexpected(failure(LoginItemError::Code::notRemoved, error.value()));
    return {};
}

LoginItemStatus XdgAutostartLoginItemService::status() const {
    if (folder_.empty()) return LoginItemStatus::notFound;
    if (const auto entry = AtomicFile::read(entryPath(), kMaxEntrySize);
        entry && !isTurnedOff(*entry)) {
        return LoginItemStatus::enabled;
    }
    return startableExec() ? LoginItemStatus::notRegistered : LoginItemStatus::notFound;
}

}  // namespace tw
