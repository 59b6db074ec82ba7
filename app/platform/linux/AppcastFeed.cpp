#include "app/platform/linux/AppcastFeed.h"

#include <QUrl>
#include <QXmlStreamReader>
#include <optional>

namespace tw {

namespace {

// What one <item> says, before it is checked.
struct ItemMarks {
    QString shortVersionElement, shortVersionAttribute, versionElement, versionAttribute;
    QString enclosureUrl, link;

    QString version() const {
        for (const auto* text :
             {&shortVersionElement, &shortVersionAttribute, &versionElement, &versionAttribute}) {
            if (!text->isEmpty()) return *text;
        }
        return {};
    }
};

bool isWebLink(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == "https" || url.scheme() == "http") &&
           !url.host().isEmpty();
}

UpdateCheckError unreadable(const QString& why) {
    return {UpdateCheckError::Code::unreadable, why.toStdString()};
}

void readEnclosure(QXmlStreamReader& reader, ItemMarks& marks) {
    const auto attributes = reader.attributes();
    if (marks.enclosureUrl.isEmpty())
        marks.enclosureUrl = attributes.value("url").trimmed().toString();
    const QString sparkle = AppcastFeed::kSparkleNamespace;
    marks.shortVersionAttribute =
        attributes.value(sparkle, "shortVersionString").trimmed().toString();
    marks.versionAttribute = attributes.value(sparkle, "version").trimmed().toString();
    reader.skipCurrentElement();
}

QString elementText(QXmlStreamReader& reader) {
    return reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
}

ItemMarks readItem(QXmlStreamReader& reader) {
    ItemMarks marks;
    while (reader.readNextStartElement()) {
        const bool sparkle = reader.namespaceUri() == QLatin1String(AppcastFeed::kSparkleNamespace);
        const bool plain = reader.namespaceUri().isEmpty();
        const auto name = reader.name();
        if (plain && name == QLatin1String("enclosure")) {
            readEnclosure(reader, marks);
        } else if (plain && name == QLatin1String("link")) {
            marks.link = elementText(reader);
        } else if (sparkle && name == QLatin1String("shortVersionString")) {
            marks.shortVersionElement = elementText(reader);
        } else if (sparkle && name == QLatin1String("version")) {
            marks.versionElement = elementText(reader);
        } else {
            reader.skipCurrentElement();
        }
    }
    return marks;
}

std::optional<AppcastRelease> releaseOf(const ItemMarks& marks) {
    const auto versionText = marks.version().toStdString();
    const auto version = DottedVersion::parse(versionText);
    const auto& link = marks.enclosureUrl.isEmpty() ? marks.link : marks.enclosureUrl;
    if (!version || !isWebLink(link)) return std::nullopt;
    return AppcastRelease{*version, versionText, link.toStdString()};
}

}  // namespace

std::expected<AppcastRelease, UpdateCheckError> AppcastFeed::latestRelease(
    const QByteArray& document) {
    QXmlStreamReader reader(document);
    std::optional<AppcastRelease> latest;
    bool sawRoot = false;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::DTD)
            return std::unexpected(unreadable("it declares a document type"));
        if (token != QXmlStreamReader::StartElement) continue;
        if (!sawRoot && reader.name() != QLatin1String("rss")) {
            return std::unexpected(unreadable("it is not an RSS feed"));
        }
        sawRoot = true;
        if (reader.name() != QLatin1String("item") || !reader.namespaceUri().isEmpty()) continue;
        const auto release = releaseOf(readItem(reader));
        if (release && (!latest || release->version > latest->version)) latest = release;
    }
    if (reader.hasError()) {
        return std::unexpected(unreadable(QStringLiteral("line %1: ").arg(reader.lineNumber()) +
                                          reader.errorString()));
    }
    if (!sawRoot) return std::unexpected(unreadable("it is empty"));
    if (!latest) return std::unexpected(UpdateCheckError{UpdateCheckError::Code::noRelease, {}});
    return *latest;
}

}  // namespace tw
