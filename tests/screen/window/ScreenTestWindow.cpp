// Shows known words on a light, framed panel and a dark one, a red square, a button and a focused
// password field, then prints where they are in global coordinates (words in reading order) and
// runs until it is stopped:
//   WINDOW <id>
//   WORD <text> <x> <y> <w> <h>        ink bounds of a drawn word
//   CONTROL <name> <x> <y> <w> <h>     "red" (to check a capture's channel order), "button", "password"
//   READY
#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

struct Line {
    const char* text;
    QPoint baseline;
    int pixelSize;
    bool dark;
};
const Line kLines[] = {
    {"Quarterly budget review", {30, 60}, 26, false},
    {"Deploy staging tonight", {480, 60}, 24, true},
    {"Invoice 2041 overdue", {30, 120}, 20, false},
    {"Terminal output ready", {480, 120}, 20, true},
};
const QRect kRedPatch(400, 360, 30, 30);

QFont fontOf(const Line& line)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(line.pixelSize);
    return font;
}

class Canvas : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(0, 0, 450, 420), QColor(250, 250, 248));
        painter.fillRect(QRect(450, 0, 450, 420), QColor(28, 30, 36));
        painter.fillRect(kRedPatch, QColor(255, 0, 0));
        painter.setPen(QColor(140, 140, 140));
        painter.drawRect(QRect(10, 10, 430, 400));
        painter.drawLine(10, 85, 440, 85);
        for (const Line& line : kLines) {
            painter.setFont(fontOf(line));
            painter.setPen(line.dark ? QColor(225, 228, 235) : QColor(25, 25, 25));
            painter.drawText(line.baseline, QString::fromLatin1(line.text));
        }
    }
};

void print(const char* kind, const QString& name, QRect local, const QWidget* widget)
{
    const QPoint global = widget->mapToGlobal(local.topLeft());
    std::printf("%s %s %d %d %d %d\n", kind, qPrintable(name), global.x(), global.y(), local.width(),
                local.height());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    auto* canvas = new Canvas;
    canvas->setParent(&window);
    canvas->setGeometry(0, 0, 900, 420);
    auto* button = new QPushButton(QStringLiteral("Save draft"), &window);
    button->setGeometry(30, 440, 160, 40);
    auto* password = new QLineEdit(&window);
    password->setEchoMode(QLineEdit::Password);
    password->setAccessibleName(QStringLiteral("Password field"));
    password->setGeometry(470, 440, 220, 40);
    window.setGeometry(120, 140, 900, 500);
    window.show();
    window.activateWindow();
    password->setFocus();

    // Reported once the window is mapped and its accessibility tree is served.
    QTimer::singleShot(600, &app, [&] {
        std::printf("WINDOW %llu\n", static_cast<unsigned long long>(window.winId()));
        for (const Line& line : kLines) {
            const QFontMetrics metrics(fontOf(line));
            int x = line.baseline.x();
            for (const QString& word : QString::fromLatin1(line.text).split(QLatin1Char(' '))) {
                print("WORD", word, metrics.tightBoundingRect(word).translated(x, line.baseline.y()), canvas);
                x += metrics.horizontalAdvance(word + QLatin1Char(' '));
            }
        }
        print("CONTROL", QStringLiteral("red"), kRedPatch, canvas);
        print("CONTROL", QStringLiteral("button"), button->rect(), button);
        print("CONTROL", QStringLiteral("password"), password->rect(), password);
        std::printf("READY\n");
        std::fflush(stdout);
    });
    return app.exec();
}
