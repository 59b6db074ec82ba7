#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/core/LoginItemService.h"

namespace tw {

// The login item as an XDG autostart entry: a desktop entry in the user's autostart folder that
// the desktop session starts at login. The entry starts the program by its absolute path. A user
// who turns the item off in the session settings gets "Hidden=true" or
// "X-GNOME-Autostart-enabled=false" written into the entry; such an entry counts as not
// registered, and registering again replaces it.
class XdgAutostartLoginItemService final : public LoginItemService {
  public:
    static constexpr std::string_view kEntryName = "com.tarnwick.desktop.desktop";

    // `folder` holds the entry; `program` is what it starts; `name` is the entry's display name.
    XdgAutostartLoginItemService(std::filesystem::path folder, std::filesystem::path program,
                                 std::string name);

    // The user's configuration folder's "autostart"; empty without a configuration folder.
    static std::filesystem::path defaultFolder();
    // The running executable; empty when /proc does not tell.
    static std::filesystem::path runningProgram();
    // The default folder, the running program and the bundle's display name.
    static const std::shared_ptr<XdgAutostartLoginItemService>& shared();

    // The Exec value that starts `program` without arguments, quoted by the Desktop Entry rules;
    // nothing when an entry cannot name it (not absolute, not UTF-8, control characters, '%').
    static std::optional<std::string> execValue(const std::filesystem::path& program);

    std::filesystem::path entryPath() const { return folder_ / kEntryName; }

    // Writes the entry atomically, creating the folder when needed. Fails with programNotFound,
    // writing nothing, when the program is not an executable file an entry can name.
    std::expected<void, LoginItemError> registerItem() override;
    std::expected<void, LoginItemError> unregisterItem() override;
    // enabled when the entry is there and not turned off; otherwise notFound when no entry can be
    // made (no folder, or a program an entry cannot start), else notRegistered.
    LoginItemStatus status() const override;

  private:
    std::optional<std::string> startableExec() const;
    std::string entryText(const std::string& exec) const;

    const std::filesystem::path folder_;
    const std::filesystem::path program_;
    const std::string name_;
};

}  // namespace tw
