#pragma once

#include <QByteArray>
#include <expected>

#include "app/platform/linux/AppcastRelease.h"
#include "app/platform/linux/UpdateCheckError.h"

namespace tw {

// Reads an appcast: an RSS 2.0 document whose <item>s announce releases with the Sparkle
// namespace's version marks. An item's version is, in this order of preference, the
// <sparkle:shortVersionString> element, the enclosure's sparkle:shortVersionString attribute,
// the <sparkle:version> element, the enclosure's sparkle:version attribute (the short version is
// the one that compares with the application's own). Its link is the enclosure's url, else the
// item's <link>.
class AppcastFeed {
  public:
    static constexpr const char* kSparkleNamespace =
        "http://www.andymatuschak.org/xml-namespaces/sparkle";

    // The release with the highest version among the items that have a dotted version and an
    // http(s) link; others are passed over. A document that is not well-formed RSS, or that
    // declares a document type (entity tricks have no place in a feed), is unreadable.
    static std::expected<AppcastRelease, UpdateCheckError> latestRelease(
        const QByteArray& document);
};

}  // namespace tw
