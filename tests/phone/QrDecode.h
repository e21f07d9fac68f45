#pragma once

#include <QImage>
#include <QString>

#include <ZXing/ReadBarcode.h>

// What a phone camera would read from the picture: the QR code's text and correction level, as
// zxing-cpp decodes them; empty when nothing decodes.
struct ScannedCode {
    QString text;
    QString level;
};

inline ScannedCode scanQr(const QImage& picture)
{
    const QImage gray = picture.convertToFormat(QImage::Format_Grayscale8);
    const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(), ZXing::ImageFormat::Lum,
                                static_cast<int>(gray.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid())
        return {};
    return {QString::fromStdString(result.text()), QString::fromStdString(result.ecLevel())};
}
