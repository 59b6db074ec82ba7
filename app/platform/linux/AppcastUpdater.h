#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>

#include "app/core/NotificationHelper.h"
#include "app/core/UpdaterService.h"
#include "app/platform/linux/AppcastRelease.h"
#include "app/platform/linux/UpdateCheckError.h"
#include "base/Bundle.h"
#include "base/Observable.h"

class QNetworkReply;

namespace tw {

// The update checker on Linux. It reads the appcast feed named by the bundle, compares the newest
// release with the installed version and tells the user the outcome in a notification: up to
// date, a newer version with the address to download it from, or why the check failed. It never
// downloads or installs anything; that is the package manager's job. Runs on the Qt main thread.
class AppcastUpdater final : public UpdaterService {
  public:
    struct Limits {
        std::int64_t maxFeedBytes = 1024 * 1024;
        std::chrono::milliseconds timeout = std::chrono::seconds(30);
    };

    // `feedUrl` empty: no feed, and checks are never possible. `installedVersion` is compared
    // with the feed; `productName` names the application in the texts.
    AppcastUpdater(std::string feedUrl, std::string installedVersion, std::string productName,
                   std::shared_ptr<NotificationHelper> notifications, Limits limits);
    ~AppcastUpdater() override;
    AppcastUpdater(const AppcastUpdater&) = delete;
    AppcastUpdater& operator=(const AppcastUpdater&) = delete;

    // The feed "TWUpdateFeedURL", the version "CFBundleShortVersionString" and the display name
    // of `bundle`; keys that are missing or not strings count as empty.
    static std::unique_ptr<AppcastUpdater> fromBundle(
        const Bundle& bundle, std::shared_ptr<NotificationHelper> notifications, Limits limits);

    // https, or plain http to this machine only: a feed anyone on the way can rewrite could send
    // the user to any download.
    static bool isAllowedFeed(const QUrl& url);

    Observable<bool>& canCheckForUpdates() override { return canCheck_; }
    void checkForUpdates() override;

  private:
    using Result = std::expected<AppcastRelease, UpdateCheckError>;

    std::optional<UpdateCheckError> refusal() const;
    // Adds what has arrived to the body; false once it is over the limit.
    bool readFrom(QNetworkReply& reply);
    UpdateCheckError tooLarge() const;
    void readAvailable();
    void abort(UpdateCheckError reason);
    void finish();
    Result resultOf(QNetworkReply& reply) const;
    void tell(const Result& result) const;

    const QUrl feed_;
    const std::string installedVersion_;
    const std::string productName_;
    const std::shared_ptr<NotificationHelper> notifications_;
    const Limits limits_;
    Observable<bool> canCheck_;

    QNetworkAccessManager network_;
    QTimer deadline_;
    QNetworkReply* reply_ = nullptr;  // owned by network_; set while a check runs
    QByteArray body_;
    std::optional<UpdateCheckError> abortReason_;
    // Receiver of every connection; declared last so that it goes first and no callback reaches
    // a half-destroyed updater.
    QObject context_;
};

}  // namespace tw
