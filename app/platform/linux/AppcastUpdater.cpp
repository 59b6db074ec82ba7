#include "app/platform/linux/AppcastUpdater.h"

#include <QHostAddress>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "app/platform/linux/AppcastFeed.h"
#include "app/platform/linux/DottedVersion.h"

namespace tw {

AppcastUpdater::AppcastUpdater(std::string feedUrl, std::string installedVersion,
                               std::string productName,
                               std::shared_ptr<NotificationHelper> notifications, Limits limits)
    : feed_(QString::fromStdString(feedUrl), QUrl::StrictMode),
      installedVersion_(std::move(installedVersion)),
      productName_(std::move(productName)),
      notifications_(std::move(notifications)),
      limits_(limits),
      canCheck_(!feedUrl.empty()) {
    deadline_.setSingleShot(true);
    QObject::connect(&deadline_, &QTimer::timeout, &context_, [this] {
        const auto seconds = std::chrono::duration<double>(limits_.timeout).count();
        abort({UpdateCheckError::Code::timedOut, QString::number(seconds).toStdString()});
    });
}

AppcastUpdater::~AppcastUpdater() = default;

std::unique_ptr<AppcastUpdater> AppcastUpdater::fromBundle(
    const Bundle& bundle, std::shared_ptr<NotificationHelper> notifications, Limits limits) {
    return std::make_unique<AppcastUpdater>(
        bundle.string("TWUpdateFeedURL").value_or(""),
        bundle.string("CFBundleShortVersionString").value_or(""),
        bundle.string("CFBundleDisplayName").value_or("Tarnwick"), std::move(notifications),
        limits);
}

bool AppcastUpdater::isAllowedFeed(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty()) return false;
    if (url.scheme() == "https") return true;
    return url.scheme() == "http" &&
           (url.host() == "localhost" || QHostAddress(url.host()).isLoopback());
}

std::optional<UpdateCheckError> AppcastUpdater::refusal() const {
    if (!isAllowedFeed(feed_)) {
        return UpdateCheckError{UpdateCheckError::Code::feedNotAllowed, {}};
    }
    if (!DottedVersion::parse(installedVersion_)) {
        return UpdateCheckError{UpdateCheckError::Code::installedVersionUnknown, {}};
    }
    return std::nullopt;
}

void AppcastUpdater::checkForUpdates() {
    if (!canCheck_.get()) return;
    if (const auto refused = refusal()) return tell(std::unexpected(*refused));
    // Off first: a subscriber that asks for another check meanwhile is ignored.
    canCheck_.set(false);
    QNetworkRequest request(feed_);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    reply_ = network_.get(request);
    QObject::connect(reply_, &QNetworkReply::readyRead, &context_, [this] { readAvailable(); });
    QObject::connect(reply_, &QNetworkReply::finished, &context_, [this] { finish(); });
    deadline_.start(limits_.timeout);
}

bool AppcastUpdater::readFrom(QNetworkReply& reply) {
    // One byte past the limit is enough to know that the feed is too large.
    body_ += reply.read(limits_.maxFeedBytes + 1 - body_.size());
    return body_.size() <= limits_.maxFeedBytes;
}

UpdateCheckError AppcastUpdater::tooLarge() const {
    return {UpdateCheckError::Code::tooLarge, std::to_string(limits_.maxFeedBytes)};
}

void AppcastUpdater::readAvailable() {
    if (reply_ && !abortReason_ && !readFrom(*reply_)) abort(tooLarge());
}

void AppcastUpdater::abort(UpdateCheckError reason) {
    if (!reply_ || abortReason_) return;
    abortReason_ = std::move(reason);
    reply_->abort();
}

void AppcastUpdater::finish() {
    deadline_.stop();
    QNetworkReply* reply = std::exchange(reply_, nullptr);
    reply->deleteLater();
    if (!abortReason_ && !readFrom(*reply)) abortReason_ = tooLarge();
    const Result result = abortReason_ ? Result(std::unexpected(*abortReason_)) : resultOf(*reply);
    abortReason_.reset();
    body_.clear();
    canCheck_.set(true);
    tell(result);
}

AppcastUpdater::Result AppcastUpdater::resultOf(QNetworkReply& reply) const {
    const auto status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        return std::unexpected(
            UpdateCheckError{UpdateCheckError::Code::httpStatus, status.toString().toStdString()});
    }
    if (reply.error() != QNetworkReply::NoError) {
        return std::unexpected(UpdateCheckError{UpdateCheckError::Code::unreachable,
                                                reply.errorString().toStdString()});
    }
    return AppcastFeed::latestRelease(body_);
}

void AppcastUpdater::tell(const Result& result) const {
    if (!result) {
        notifications_->show("Could not check for updates", result.error().description());
        return;
    }
    if (result->version > *DottedVersion::parse(installedVersion_)) {
        notifications_->show(productName_ + " " + result->versionText + " is available",
                             "You have version " + installedVersion_ +
                                 ". Download the new version from " + result->link);
        return;
    }
    notifications_->show(productName_ + " is up to date",
                         "Version " + installedVersion_ + " is the newest version available.");
}

}  // namespace tw
