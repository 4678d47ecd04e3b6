// The staging protocol file is written by hand; the code that serves both protocols
// through one implementation relies on it matching the wlroots file message by message.

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

QString attr(const QXmlStreamAttributes& attributes, const char* name) {
    return attributes.value(QLatin1String(name)).toString();
}

struct Signature {
    // Per interface, in file order: its requests and then its events, each followed by
    // its arguments, which is what fixes the opcodes and the wire format; then its enum
    // entries, sorted. The protocol's prefix and the "_v1" suffix are taken out of names.
    QStringList wire;
    // Interface versions and "since" attributes, in file order.
    QStringList versions;
};

Signature signatureOf(const QString& path, const QString& prefix) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    QXmlStreamReader xml(&file);
    const QRegularExpression versionSuffix(QStringLiteral("_v1$"));
    auto plain = [&](QString name) {
        if (name.startsWith(prefix)) {
            name.remove(0, prefix.size());
        }
        return name.remove(versionSuffix);
    };
    Signature signature;
    QStringList requests, events, enums;
    QStringList* message = nullptr;
    auto closeInterface = [&] {
        enums.sort();
        signature.wire << requests << events << enums;
        requests.clear();
        events.clear();
        enums.clear();
    };
    QString enumName;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        const QXmlStreamAttributes a = xml.attributes();
        const auto element = xml.name();
        if (a.hasAttribute(QLatin1String("version")) || a.hasAttribute(QLatin1String("since"))) {
            signature.versions.append(attr(a, "name") + QLatin1Char(' ') + attr(a, "version") +
                                      attr(a, "since"));
        }
        if (element == u"interface") {
            closeInterface();
            signature.wire.append(QStringLiteral("interface ") + plain(attr(a, "name")));
        } else if (element == u"request" || element == u"event") {
            message = element == u"request" ? &requests : &events;
            message->append(element.toString() + QLatin1Char(' ') + attr(a, "name") +
                            QLatin1Char(' ') + attr(a, "type"));
        } else if (element == u"arg" && message) {
            message->append(QStringList{QStringLiteral("  arg"), attr(a, "name"), attr(a, "type"),
                                        plain(attr(a, "interface")), attr(a, "allow-null")}
                                .join(QLatin1Char(' ')));
        } else if (element == u"enum") {
            enumName = attr(a, "name");
        } else if (element == u"entry") {
            enums.append(enumName + QLatin1Char('.') + attr(a, "name") + QLatin1Char('=') +
                         attr(a, "value"));
        }
    }
    closeInterface();
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return signature;
}

TEST(DataControlProtocolFilesTest, StagingFileMatchesTheWlrootsFileOnTheWire) {
    const Signature ext =
        signatureOf(QStringLiteral(ORVANE_EXT_DATA_CONTROL_XML), QStringLiteral("ext_"));
    const Signature wlr =
        signatureOf(QStringLiteral(ORVANE_WLR_DATA_CONTROL_XML), QStringLiteral("zwlr_"));
    ASSERT_GT(ext.wire.size(), 30);
    EXPECT_EQ(ext.wire.join(QLatin1Char('\n')).toStdString(),
              wlr.wire.join(QLatin1Char('\n')).toStdString());
    // Everything that the wlroots protocol gained by its version 2 is in version 1 here.
    EXPECT_EQ(ext.versions.join(QLatin1Char(',')).toStdString(),
              "ext_data_control_manager_v1 1,ext_data_control_device_v1 1,"
              "ext_data_control_source_v1 1,ext_data_control_offer_v1 1");
}

} // namespace
