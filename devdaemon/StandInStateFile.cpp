#include "devdaemon/StandInStateFile.h"

#include <simdjson.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "devdaemon/JsonWriter.h"

namespace tw {

namespace {

namespace dom = simdjson::dom;
using Account = StandInProfile::Account;

void writeAccount(JsonWriter& json, const Account& account) {
    json.beginObject().key("node_id").number(account.nodeId).key("user_id").number(account.userId);
    json.key("login_name").string(account.loginName);
    json.key("display_name").string(account.displayName);
    json.key("network").string(account.network).endObject();
}

std::string render(const StandInState::Saved& saved) {
    JsonWriter json;
    json.beginObject().key("current_profile_id").string(saved.currentProfileId);
    json.key("want_running").boolean(saved.wantRunning).key("profiles").beginArray();
    for (const auto& profile : saved.profiles) {
        json.beginObject().key("id").string(profile.id).key("name").string(profile.name);
        if (profile.account) writeAccount(json.key("account"), *profile.account);
        json.endObject();
    }
    return json.endArray().endObject().text() + "\n";
}

bool read(dom::object object, std::string_view key, std::string& out) {
    std::string_view text;
    if (object[key].get(text) != simdjson::SUCCESS) return false;
    out.assign(text);
    return true;
}

template <class T>
bool read(dom::object object, std::string_view key, T& out) {
    return object[key].get(out) == simdjson::SUCCESS;
}

std::optional<Account> readAccount(dom::object object) {
    Account account;
    const bool complete = read(object, "node_id", account.nodeId) &&
                          read(object, "user_id", account.userId) &&
                          read(object, "login_name", account.loginName) &&
                          read(object, "display_name", account.displayName) &&
                          read(object, "network", account.network);
    if (!complete) return std::nullopt;
    return account;
}

std::optional<StandInProfile> readProfile(dom::element element) {
    dom::object object;
    StandInProfile profile;
    if (element.get(object) != simdjson::SUCCESS || !read(object, "id", profile.id) ||
        !read(object, "name", profile.name)) {
        return std::nullopt;
    }
    const auto account = object["account"];
    if (account.error() == simdjson::NO_SUCH_FIELD) return profile;
    dom::object accountObject;
    if (account.get(accountObject) != simdjson::SUCCESS) return std::nullopt;
    profile.account = readAccount(accountObject);
    if (!profile.account) return std::nullopt;
    return profile;
}

std::optional<StandInState::Saved> parse(const std::string& json) {
    dom::parser parser;
    dom::object object;
    dom::array profiles;
    StandInState::Saved saved;
    if (parser.parse(json).get(object) != simdjson::SUCCESS ||
        !read(object, "current_profile_id", saved.currentProfileId) ||
        !read(object, "want_running", saved.wantRunning) ||
        object["profiles"].get(profiles) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    for (dom::element element : profiles) {
        auto profile = readProfile(element);
        if (!profile) return std::nullopt;
        saved.profiles.push_back(std::move(*profile));
    }
    return saved;
}

}  // namespace

std::expected<StandInState::Saved, std::string> StandInStateFile::load() const {
    std::ifstream in(path_);
    if (!in) {
        std::error_code error;
        if (!std::filesystem::exists(path_, error) && !error) return StandInState::Saved{};
        return std::unexpected("cannot read " + path_);
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    auto saved = parse(contents.str());
    if (!saved) return std::unexpected(path_ + " does not hold a saved stand-in state");
    return std::move(*saved);
}

std::expected<void, std::string> StandInStateFile::save(const StandInState::Saved& saved) const {
    const auto temporary = path_ + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << render(saved);
        if (!out.flush()) return std::unexpected("cannot write " + temporary);
    }
    if (std::rename(temporary.c_str(), path_.c_str()) != 0) {
        return std::unexpected("cannot replace " + path_);
    }
    return {};
}

}  // namespace tw
