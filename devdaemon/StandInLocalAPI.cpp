#include "devdaemon/StandInLocalAPI.h"

#include <simdjson.h>

#include <algorithm>
#include <charconv>

#include "devdaemon/JsonWriter.h"

namespace tw {

namespace {

// The body of a WantRunning change: {"WantRunning": bool, "WantRunningSet": true}, other
// members ignored.
std::optional<bool> wantRunningIn(std::string_view body) {
    simdjson::dom::parser parser;
    simdjson::dom::object prefs;
    bool isSet = false;
    bool wantRunning = false;
    if (parser.parse(simdjson::padded_string(body)).get(prefs) != simdjson::SUCCESS ||
        prefs["WantRunningSet"].get(isSet) != simdjson::SUCCESS || !isSet ||
        prefs["WantRunning"].get(wantRunning) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return wantRunning;
}

HttpResponse done() { return HttpResponse::ok("{}"); }

}  // namespace

StandInLocalAPI::StandInLocalAPI(StandInState state, Options options, StandInLog log)
    : options_(std::move(options)),
      log_(std::move(log)),
      state_(std::move(state)),
      lastSaved_(state_.saved()),
      timers_("tarnwickd.timers") {
    std::lock_guard lock(mutex_);
    afterChange();
}

bool StandInLocalAPI::isEventStream(const HttpRequest& request) {
    return request.method == "GET" && request.path == kEventStreamPath;
}

HttpResponse StandInLocalAPI::handle(const HttpRequest& request) {
    struct Route {
        std::string_view method;
        std::string_view path;
        HttpResponse (StandInLocalAPI::*answer)(const HttpRequest&);
        bool privileged = false;  // a development request, which changes the node at will
    };
    static constexpr Route kRoutes[] = {
        {"GET", "/localapi/v0/status", &StandInLocalAPI::status},
        {"GET", "/localapi/v0/profiles", &StandInLocalAPI::profiles},
        {"POST", "/localapi/v0/profiles/switch", &StandInLocalAPI::switchProfile},
        {"POST", "/localapi/v0/profiles/switch-to-empty", &StandInLocalAPI::switchToEmpty},
        {"PATCH", "/localapi/v0/merrow", &StandInLocalAPI::setPrefs},
        {"POST", "/localapi/v0/login", &StandInLocalAPI::login},
        {"POST", "/localapi/v0/logout", &StandInLocalAPI::logout},
        {"POST", "/localapi/v0/dev/jail", &StandInLocalAPI::jail, true},
        {"POST", "/localapi/v0/dev/unjail", &StandInLocalAPI::unjail, true},
        {"POST", "/localapi/v0/dev/netmap", &StandInLocalAPI::reshapeNetMap, true},
    };
    const auto route = std::ranges::find_if(kRoutes, [&request](const Route& candidate) {
        return candidate.method == request.method && candidate.path == request.path;
    });
    if (route == std::end(kRoutes)) return HttpResponse::error(404, "not found");
    if (route->privileged && !request.peerIsPrivileged) {
        return HttpResponse::error(403, "development requests are answered only to root");
    }
    std::lock_guard lock(mutex_);
    auto response = (this->*route->answer)(request);
    afterChange();
    return response;
}

Subscription StandInLocalAPI::observe(Listener listener) {
    std::lock_guard lock(mutex_);
    listener(lastNotification_);
    const auto id = nextListenerId_++;
    listeners_.emplace(id, std::move(listener));
    return Subscription([this, id] {
        std::lock_guard unsubscribing(mutex_);
        listeners_.erase(id);
    });
}

HttpResponse StandInLocalAPI::status(const HttpRequest&) {
    return HttpResponse::ok(state_.statusJson());
}

HttpResponse StandInLocalAPI::profiles(const HttpRequest&) {
    return HttpResponse::ok(state_.profilesJson());
}

HttpResponse StandInLocalAPI::switchProfile(const HttpRequest& request) {
    const auto id = request.queryValue("id");
    if (!id) return HttpResponse::error(400, "missing id");
    if (!state_.switchProfile(*id)) return HttpResponse::error(404, "no such profile");
    log_("switched to profile " + std::string(*id));
    return done();
}

HttpResponse StandInLocalAPI::switchToEmpty(const HttpRequest&) {
    state_.switchToEmpty();
    log_("switched to a new empty profile " + state_.currentProfile().id);
    return done();
}

HttpResponse StandInLocalAPI::setPrefs(const HttpRequest& request) {
    const auto wantRunning = wantRunningIn(request.body);
    if (!wantRunning) {
        return HttpResponse::error(400, R"(expected {"WantRunning":<bool>,"WantRunningSet":true})");
    }
    state_.setWantRunning(*wantRunning);
    return HttpResponse::ok(state_.prefsJson());
}

HttpResponse StandInLocalAPI::login(const HttpRequest&) {
    const auto url = state_.startLogin();
    if (options_.autoLoginAfter) {
        timers_.postDelayed(*options_.autoLoginAfter, [this, url] {
            std::lock_guard lock(mutex_);
            completeLocked(url, {});
        });
    }
    JsonWriter json;
    json.beginObject().key("interactive_login_url").string(url).endObject();
    return HttpResponse::ok(json.text());
}

std::optional<std::string> StandInLocalAPI::pendingLoginAccount(std::string_view url) {
    std::lock_guard lock(mutex_);
    if (state_.pendingLoginUrl() != url) return std::nullopt;
    return state_.proposedLoginName();
}

bool StandInLocalAPI::completeLogin(std::string_view url, std::string_view loginName) {
    std::lock_guard lock(mutex_);
    return completeLocked(url, loginName);
}

bool StandInLocalAPI::completeLocked(std::string_view url, std::string_view loginName) {
    const bool completed = state_.completeLogin(url, loginName);
    if (completed) log_("login completed as " + state_.currentProfile().account->loginName);
    afterChange();
    return completed;
}

HttpResponse StandInLocalAPI::logout(const HttpRequest&) {
    state_.logout();
    return done();
}

HttpResponse StandInLocalAPI::jail(const HttpRequest& request) {
    state_.jail(std::string(request.queryValue("reason").value_or("")));
    return done();
}

HttpResponse StandInLocalAPI::unjail(const HttpRequest&) {
    state_.unjail();
    return done();
}

// ?host=NAME&peers=N: a map this big, whose self node has this name.
HttpResponse StandInLocalAPI::reshapeNetMap(const HttpRequest& request) {
    constexpr std::size_t kMaxPeers = 100'000;
    const auto host = request.queryValue("host").value_or("");
    const auto peersText = request.queryValue("peers").value_or("0");
    std::size_t peers = 0;
    const auto [end, error] =
        std::from_chars(peersText.data(), peersText.data() + peersText.size(), peers);
    if (host.empty() || error != std::errc() || end != peersText.data() + peersText.size() ||
        peers > kMaxPeers) {
        return HttpResponse::error(400, "expected host=NAME&peers=0..100000");
    }
    state_.reshapeNetMap(host, peers);
    return done();
}

void StandInLocalAPI::afterChange() {
    publishIfChanged();
    saveIfChanged();
    armStartTimer();
}

void StandInLocalAPI::publishIfChanged() {
    if (const auto backend = state_.backend(); backend != lastBackend_) {
        lastBackend_ = backend;
        log_("state " + std::string(StandInState::name(backend)));
    }
    auto notification = state_.notificationJson();
    if (notification == lastNotification_) return;
    lastNotification_ = std::move(notification);
    for (const auto& [id, listener] : listeners_) listener(lastNotification_);
}

void StandInLocalAPI::saveIfChanged() {
    if (!options_.stateFile || state_.saved() == lastSaved_) return;
    lastSaved_ = state_.saved();
    if (auto saved = options_.stateFile->save(lastSaved_); !saved) log_(saved.error());
}

void StandInLocalAPI::armStartTimer() {
    if (startTimerArmed_ || state_.backend() != StandInState::Backend::starting) return;
    startTimerArmed_ = true;
    timers_.postDelayed(options_.startingFor, [this] {
        std::lock_guard lock(mutex_);
        startTimerArmed_ = false;
        state_.finishStarting();
        afterChange();
    });
}

}  // namespace tw
