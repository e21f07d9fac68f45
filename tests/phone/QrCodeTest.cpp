#include <QPainter>
#include <gtest/gtest.h>

#include "Tovrick/phone/QrCode.h"
#include "phone/QrDecode.h"
#include "shared/link/PairingRecord.h"

namespace {

// A realistic phone-link code: a long host name and a 32-byte key.
QString longestLinkCode()
{
    const QString name = QString(63, QLatin1Char('n'));
    return PairingRecord::withKey(name, QByteArray(32, '\xA5')).scanText();
}

// Paints the code into a grey canvas of `canvas` pixels, in the area at `area`.
QImage painted(const QrCode& code, QSize canvas, const QRect& area, QRect* square)
{
    QImage image(canvas, QImage::Format_RGB32);
    image.fill(QColor(120, 120, 120));
    QPainter painter(&image);
    *square = code.paint(painter, area);
    return image;
}

} // namespace

TEST(QrCode, ScansBackToTheExactTextAtEverySize)
{
    const QString texts[] = {QStringLiteral("tovrick-account:eyJwYWlyaW5nSWQiOiJwYWlyaW5nLTEiLCJjb2RlIjoibG9vcGJhY2stY29kZSJ9"),
                             longestLinkCode(), QStringLiteral("tovrick-pair:\u00e9\u4e2d")};
    for (const QString& text : texts) {
        const std::optional<QrCode> code = QrCode::encode(text);
        ASSERT_TRUE(code) << qPrintable(text);
        // Sizes that are no whole multiple of the modules, and an area off the pixel grid's origin.
        for (const int side : {code->size() + 8, 97, 240, 333}) {
            QRect square;
            const QImage image = painted(*code, QSize(side + 41, side + 30), QRect(13, 7, side, side + 5), &square);
            const ScannedCode scanned = scanQr(image);
            EXPECT_EQ(scanned.text, text) << side;
            EXPECT_EQ(scanned.level, QStringLiteral("M")) << side;
            // Crisp: inside the square every pixel is pure black or pure white.
            int grey = 0;
            for (int y = square.top(); y <= square.bottom(); ++y)
                for (int x = square.left(); x <= square.right(); ++x) {
                    const QRgb pixel = image.pixel(x, y) & 0xFFFFFF;
                    grey += pixel != 0 && pixel != 0xFFFFFF;
                }
            EXPECT_EQ(grey, 0) << side;
            EXPECT_EQ(square.width() % (code->size() + 2 * QrCode::quietZone), 0) << side;
            EXPECT_TRUE(QRect(13, 7, side, side + 5).contains(square)) << side;
        }
    }
}

TEST(QrCode, ThePhoneLinkCodeKeepsModulesLargeEnoughForAPhoneAtArmsLength)
{
    // Host names run from a few letters to the longest a name may be.
    const struct {
        int nameLength;
        int maximumModules;
        int minimumPixels; // per module, in the window's 240-pixel code
    } cases[] = {{6, 49, 4}, {20, 53, 3}, {63, 61, 3}};
    for (const auto& c : cases) {
        const QString text = PairingRecord::withKey(QString(c.nameLength, QLatin1Char('n')), QByteArray(32, '\xA5')).scanText();
        const std::optional<QrCode> code = QrCode::encode(text);
        ASSERT_TRUE(code);
        EXPECT_LE(code->size(), c.maximumModules) << c.nameLength;
        EXPECT_GE(code->moduleFor(240), c.minimumPixels) << c.nameLength;
    }
}
