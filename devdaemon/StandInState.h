#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "devdaemon/StandInProfile.h"

namespace tw {

class JsonWriter;

// The stand-in node: its profiles, login and connection state and device-policy block, and the
// JSON it answers with. Pure and single-threaded; the simulated delays (the browser login, the
// connection coming up) are run by the owner, which calls completeLogin and finishStarting.
class StandInState {
public:
    // The codes are the ones the event stream sends.
    enum class Backend { noState = 0, needsLogin = 1, stopped = 2, starting = 3, running = 4 };

    static constexpr std::string_view kVersion = "0.1.0-standin";

    struct Config {
        std::string hostName;  // made into a DNS label
        std::string conductorHost = "login.tarnwick.example";
        // Where login URLs point, followed by a token; empty for the conductor's address.
        std::string loginUrlBase = {};
        std::uint64_t seed = 0;  // of the ids, keys and login URLs
    };

    // What survives a restart.
    struct Saved {
        std::vector<StandInProfile> profiles;
        std::string currentProfileId;
        bool wantRunning = false;
        bool operator==(const Saved&) const = default;
    };

    // A saved state without profiles gets one empty profile; an unknown current profile id
    // falls back to the first profile.
    explicit StandInState(Config config);
    StandInState(Config config, Saved saved);

    // Starts an interactive login on the current profile and returns its URL.
    std::string startLogin();
    // Finishes the login with this URL, as `loginName` when one is given (else as the account's
    // own or a new user); false (and no change) when the URL is no longer pending.
    bool completeLogin(std::string_view url, std::string_view loginName = {});
    // Whom the login of the current profile would log in as, when nobody says otherwise.
    std::string proposedLoginName() const;
    void logout();
    // False (and no change) for an unknown id.
    bool switchProfile(std::string_view id);
    void switchToEmpty();
    void setWantRunning(bool want);
    void finishStarting();
    void jail(std::string reason);
    void unjail();
    // For measurements: the node's host name, and how many peers the network map lists (the
    // usual few when 0), made up from the usual ones.
    void reshapeNetMap(std::string_view hostName, std::size_t peers);

    Backend backend() const;
    static std::string_view name(Backend backend);
    const Saved& saved() const { return saved_; }
    const StandInProfile& currentProfile() const;
    const std::optional<std::string>& pendingLoginUrl() const { return pendingLoginUrl_; }

    std::string statusJson() const;
    std::string profilesJson() const;
    std::string prefsJson() const;
    // One event-stream notification carrying the whole state, without the line end.
    std::string notificationJson() const;

private:
    StandInProfile& current();
    bool hasProfile(std::string_view id) const;
    const StandInProfile::Account* account() const;
    bool loggedIn() const { return account() != nullptr; }
    StandInProfile::Account newAccount();
    std::string unusedLoginName() const;
    std::string newProfileId();
    std::string randomHex(std::size_t digits);
    std::int64_t randomId();
    void writeNetMap(JsonWriter& json, const StandInProfile::Account& account) const;

    Config config_;
    Saved saved_;
    std::mt19937_64 random_;
    std::optional<std::string> pendingLoginUrl_;
    bool starting_ = false;
    std::optional<std::string> jailReason_;  // set while jailed
    std::size_t peerCount_ = 0;              // 0: the usual peers
};

}  // namespace tw
