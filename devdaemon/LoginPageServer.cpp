#include "devdaemon/LoginPageServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "base/UnixSocket.h"
#include "devdaemon/HttpRequest.h"

namespace tw {

namespace {

using namespace std::chrono_literals;

constexpr int kThreads = 4;
constexpr auto kRequestDeadline = 5s;  // from the connection to the request's last byte
constexpr std::string_view kPath = "/login/";
constexpr std::size_t kMaxLoginName = 256;

// Text for HTML element content and quoted attribute values.
std::string escaped(std::string_view text) {
    std::string html;
    for (const char c : text) {
        switch (c) {
            case '&': html += "&amp;"; break;
            case '<': html += "&lt;"; break;
            case '>': html += "&gt;"; break;
            case '"': html += "&quot;"; break;
            case '\'': html += "&#39;"; break;
            default: html += c;
        }
    }
    return html;
}

HttpResponse page(int status, std::string_view title, const std::string& content) {
    return HttpResponse::html(
        status, "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
                    escaped(title) + "</title></head>\n<body><h1>" + escaped(title) + "</h1>\n" +
                    content + "</body></html>\n");
}

HttpResponse expired() {
    return page(404, "Login link expired",
                "<p>This login link is not pending any more. Start the login again.</p>\n");
}

// Waits for the fd to become readable until `deadline` (none: without one), or for the wake-up
// pipe.
bool readable(int fd, int wake, std::optional<std::chrono::steady_clock::time_point> deadline) {
    for (;;) {
        int timeout = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                *deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            timeout = static_cast<int>(left.count());
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0 && fds[1].revents == 0;
    }
}

}  // namespace

std::expected<LoginPageServer::Listener, std::string> LoginPageServer::listen(std::uint16_t port) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket) return std::unexpected(std::string("cannot create a socket: ") + std::strerror(errno));
    const int on = 1;
    ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
        ::listen(socket.get(), 16) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return std::unexpected("cannot serve the login page on 127.0.0.1:" + std::to_string(port) +
                               ": " + std::strerror(errno));
    }
    return Listener{std::move(socket),
                    "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
                        std::string(kPath)};
}

LoginPageServer::LoginPageServer(StandInLocalAPI& api, Listener listener, StandInLog log)
    : api_(api), listener_(std::move(listener)), log_(std::move(log)) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) == 0) {
        wakeRead_ = UniqueFd(ends[0]);
        wakeWrite_ = UniqueFd(ends[1]);
    }
    for (int index = 0; index < kThreads; ++index) threads_.emplace_back([this] { acceptLoop(); });
}

LoginPageServer::~LoginPageServer() {
    const char byte = 0;
    [[maybe_unused]] const auto ignored = ::write(wakeWrite_.get(), &byte, 1);
    for (auto& thread : threads_) thread.join();
}

void LoginPageServer::acceptLoop() {
    while (readable(listener_.socket.get(), wakeRead_.get(), std::nullopt)) {
        // The listener is non-blocking: another thread may have taken the connection meanwhile.
        UniqueFd connection(::accept4(listener_.socket.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (connection) serve(connection.get());
    }
}

void LoginPageServer::serve(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + kRequestDeadline;
    std::string bytes;
    char chunk[4096];
    while (readable(fd, wakeRead_.get(), deadline)) {
        const auto count = ::recv(fd, chunk, sizeof chunk, 0);
        if (count <= 0) return;
        bytes.append(chunk, static_cast<std::size_t>(count));
        auto parsed = HttpRequest::parse(bytes);
        if (parsed && !*parsed) continue;
        const auto response = parsed ? answer(**parsed) : page(400, "Bad request", "");
        UnixSocket::setSendTimeout(fd, kRequestDeadline);
        UnixSocket::sendAll(fd, response.serialize());
        return;
    }
}

HttpResponse LoginPageServer::answer(const HttpRequest& request) {
    if (!request.path.starts_with(kPath)) return page(404, "Not found", "");
    const std::string url = listener_.loginUrlBase + request.path.substr(kPath.size());
    if (request.method == "GET") return form(url);
    if (request.method == "POST") return logIn(url, request);
    return page(405, "Method not allowed", "");
}

HttpResponse LoginPageServer::form(const std::string& url) {
    const auto account = api_.pendingLoginAccount(url);
    if (!account) return expired();
    return page(200, "Log in to Tarnwick",
                "<form method=\"post\">\n<label>Account <input name=\"account\" value=\"" +
                    escaped(*account) +
                    "\" required></label>\n<button type=\"submit\">Log in</button>\n</form>\n");
}

HttpResponse LoginPageServer::logIn(const std::string& url, const HttpRequest& request) {
    const auto fields = request.formFields();
    std::string loginName;
    if (fields) {
        if (const auto field = fields->find("account"); field != fields->end()) {
            loginName = field->second;
        }
    }
    if (loginName.empty() || loginName.size() > kMaxLoginName) {
        return page(400, "Bad request", "<p>Name the account to log in as.</p>\n");
    }
    if (!api_.completeLogin(url, loginName)) return expired();
    return page(200, "Logged in",
                "<p>Logged in as " + escaped(loginName) +
                    ". You can close this page.</p>\n");
}

}  // namespace tw
