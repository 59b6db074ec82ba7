#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/UniqueFd.h"
#include "devdaemon/HttpResponse.h"
#include "devdaemon/StandInLocalAPI.h"
#include "devdaemon/StandInLog.h"

namespace tw {

struct HttpRequest;

// The page the stand-in's interactive login URLs open, on the loopback address: the account to
// log in as and a "Log in" button, a plain form that any browser can post without script.
// Posting it completes the pending login, which the event streams then report. A few threads
// each take one connection at a time, with a deadline for the whole request.
class LoginPageServer {
public:
    // The listening socket on 127.0.0.1:`port` (0: any free port) and the base of the login URLs
    // it serves, "http://127.0.0.1:<port>/login/".
    struct Listener {
        UniqueFd socket;
        std::string loginUrlBase;
    };
    static std::expected<Listener, std::string> listen(std::uint16_t port);

    // Serves on `listener` until destroyed. `api` must outlive the server.
    LoginPageServer(StandInLocalAPI& api, Listener listener, StandInLog log);
    ~LoginPageServer();
    LoginPageServer(const LoginPageServer&) = delete;
    LoginPageServer& operator=(const LoginPageServer&) = delete;

private:
    void acceptLoop();
    void serve(int fd);
    HttpResponse answer(const HttpRequest& request);
    HttpResponse form(const std::string& url);
    HttpResponse logIn(const std::string& url, const HttpRequest& request);

    StandInLocalAPI& api_;
    const Listener listener_;
    const StandInLog log_;
    UniqueFd wakeRead_;
    UniqueFd wakeWrite_;
    std::vector<std::thread> threads_;
};

}  // namespace tw
