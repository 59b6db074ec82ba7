#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/SerialQueue.h"
#include "base/Subscription.h"
#include "devdaemon/HttpRequest.h"
#include "devdaemon/HttpResponse.h"
#include "devdaemon/StandInLog.h"
#include "devdaemon/StandInState.h"
#include "devdaemon/StandInStateFile.h"

namespace tw {

// What the stand-in daemon does behind its socket: answers LocalAPI requests from the node
// model, plays out the simulated delays (the user finishing the browser login, the connection
// coming up), saves the state after each change and tells the event streams. Safe to use from
// any thread.
class StandInLocalAPI {
public:
    static constexpr std::string_view kEventStreamPath = "/localapi/v0/observe-pelto-bus";

    struct Options {
        // Seconds from a login request to the login completing by itself; never without (the
        // login page completes it then).
        std::optional<double> autoLoginAfter = 1.0;
        double startingFor = 0.2;     // seconds spent in Starting
        std::optional<StandInStateFile> stateFile;
    };

    // Receives one notification (without the line end). Called with the model locked, so it
    // must not block or call back into this object.
    using Listener = std::function<void(const std::string& notification)>;

    StandInLocalAPI(StandInState state, Options options, StandInLog log);
    StandInLocalAPI(const StandInLocalAPI&) = delete;
    StandInLocalAPI& operator=(const StandInLocalAPI&) = delete;

    static bool isEventStream(const HttpRequest& request);

    // Any request but the event stream.
    HttpResponse handle(const HttpRequest& request);

    // The login page's side: whom the pending login `url` proposes to log in as (nothing when it
    // is not pending), and completing it as `loginName`.
    std::optional<std::string> pendingLoginAccount(std::string_view url);
    bool completeLogin(std::string_view url, std::string_view loginName);

    // Calls the listener with the current notification at once, then after every change.
    [[nodiscard]] Subscription observe(Listener listener);

private:
    HttpResponse status(const HttpRequest& request);
    HttpResponse profiles(const HttpRequest& request);
    HttpResponse switchProfile(const HttpRequest& request);
    HttpResponse switchToEmpty(const HttpRequest& request);
    HttpResponse setPrefs(const HttpRequest& request);
    HttpResponse login(const HttpRequest& request);
    HttpResponse logout(const HttpRequest& request);
    HttpResponse jail(const HttpRequest& request);
    HttpResponse unjail(const HttpRequest& request);
    HttpResponse reshapeNetMap(const HttpRequest& request);

    bool completeLocked(std::string_view url, std::string_view loginName);
    // Run with the model locked after anything that may have changed it.
    void afterChange();
    void publishIfChanged();
    void saveIfChanged();
    void armStartTimer();

    const Options options_;
    const StandInLog log_;
    std::mutex mutex_;
    StandInState state_;
    std::string lastNotification_;
    StandInState::Saved lastSaved_;
    StandInState::Backend lastBackend_ = StandInState::Backend::noState;
    bool startTimerArmed_ = false;
    std::uint64_t nextListenerId_ = 0;
    std::map<std::uint64_t, Listener> listeners_;
    // Last, so that it stops (and drops the delays not yet due) before the rest goes away.
    SerialQueue timers_;
};

}  // namespace tw
