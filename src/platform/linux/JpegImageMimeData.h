#pragma once

#include <QByteArray>
#include <QMimeData>
#include <QString>
#include <QStringList>

namespace orvane {

// JPEG bytes offered as image/jpeg unchanged and as image/png, which is all that most
// programs paste. The PNG is encoded on the first request for it, so a large JPEG costs
// nothing extra when no reader asks. originalFormat names image/jpeg so that reading the
// clipboard back yields the original bytes, not the PNG made from them.
class JpegImageMimeData : public QMimeData {
    Q_OBJECT
public:
    static const QString originalFormat;

    explicit JpegImageMimeData(QByteArray jpeg);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QByteArray jpeg_;
    mutable QByteArray png_; // empty until asked for
};

} // namespace orvane
